// The ASPI for Win32 vocabulary shared by the library's ASPI transport and by any ASPI layer
// module (the virtual recorder's layer included): the module's name, its two entry points, the
// request blocks, command codes, status values and flags.
//
// The request blocks have their exact 32-bit layouts on 32-bit targets and their native layouts
// elsewhere (pointer-sized SRB_BufPointer, SRB_PostProc and SRB_ToAbort), as the layer's own
// interface defines them.
//
// Completion: a request sent with SRB_EVENT_NOTIFY carries an event in SRB_PostProc, which the
// layer signals when it completes a request that it answered SS_PENDING. On Windows that is an
// event handle. Elsewhere no event handle exists that a plain module could signal, so
// SRB_PostProc points at an AspiEvent and the layer calls its signal function; that call is the
// layer's last touch of the request block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tvx {

// The module's name as the host's module loader takes it.
inline constexpr char kAspiModuleName[] = "WNASPI32";
inline constexpr char kAspiSupportInfoSymbol[] = "GetASPI32SupportInfo";
inline constexpr char kAspiSendCommandSymbol[] = "SendASPI32Command";

#if defined(_WIN32)
#define TVX_ASPI_CALL __cdecl
#else
#define TVX_ASPI_CALL
#endif

// Bits 8-15: status; bits 0-7: number of host adapters.
using AspiSupportInfoFunction = uint32_t(TVX_ASPI_CALL*)();
// The request block's address; answers the request's status (SS_PENDING while it runs).
using AspiSendCommandFunction = uint32_t(TVX_ASPI_CALL*)(void* requestBlock);

// Command codes (SRB_Cmd).
inline constexpr uint8_t SC_HA_INQUIRY = 0x00;
inline constexpr uint8_t SC_GET_DEV_TYPE = 0x01;
inline constexpr uint8_t SC_EXEC_SCSI_CMD = 0x02;
inline constexpr uint8_t SC_ABORT_SRB = 0x03;

// Status values (SRB_Status and the support information).
inline constexpr uint8_t SS_PENDING = 0x00;
inline constexpr uint8_t SS_COMP = 0x01;
inline constexpr uint8_t SS_ABORTED = 0x02;
inline constexpr uint8_t SS_ABORT_FAIL = 0x03;
inline constexpr uint8_t SS_ERR = 0x04;
inline constexpr uint8_t SS_INVALID_CMD = 0x80;
inline constexpr uint8_t SS_INVALID_HA = 0x81;
inline constexpr uint8_t SS_NO_DEVICE = 0x82;
inline constexpr uint8_t SS_INVALID_SRB = 0xE0;
inline constexpr uint8_t SS_NO_ADAPTERS = 0xE8;

// Host adapter status (SRB_HaStat).
inline constexpr uint8_t HASTAT_OK = 0x00;
inline constexpr uint8_t HASTAT_TIMEOUT = 0x09;
inline constexpr uint8_t HASTAT_SEL_TO = 0x11; // the target did not answer

// Request flags (SRB_Flags).
inline constexpr uint8_t SRB_POSTING = 0x01;
inline constexpr uint8_t SRB_ENABLE_RESIDUAL_COUNT = 0x04;
inline constexpr uint8_t SRB_DIR_IN = 0x08;
inline constexpr uint8_t SRB_DIR_OUT = 0x10;
inline constexpr uint8_t SRB_EVENT_NOTIFY = 0x40;

// The sense bytes the library asks for, and the room the request block gives them.
inline constexpr uint8_t kAspiSenseLength = 32;
inline constexpr size_t kAspiSenseArea = 48;

// The completion event given to a layer where the system has no event handles (see above).
struct AspiEvent {
    void (*signal)(AspiEvent* event);
    void* context;
};

// SC_HA_INQUIRY: 60 bytes.
struct SRB_HAInquiry {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t HA_Count;
    uint8_t HA_SCSI_ID;
    char HA_ManagerId[16];
    char HA_Identifier[16];
    uint8_t HA_Unique[16]; // byte 3: the number of targets the adapter supports
    uint16_t HA_Rsvd1;
};

// The byte of HA_Unique that gives the adapter's number of targets.
inline constexpr size_t kHaUniqueMaxTargets = 3;
// The first of the four bytes of HA_Unique that give the adapter's largest transfer.
inline constexpr size_t kHaUniqueMaxTransfer = 4;

// SC_EXEC_SCSI_CMD, with room for 32 sense bytes: 112 bytes on 32-bit targets.
struct SRB_ExecSCSICmd {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    uint8_t SRB_Target;
    uint8_t SRB_Lun;
    uint16_t SRB_Rsvd1;
    uint32_t SRB_BufLen;
    uint8_t* SRB_BufPointer;
    uint8_t SRB_SenseLen;
    uint8_t SRB_CDBLen;
    uint8_t SRB_HaStat;
    uint8_t SRB_TargStat;
    void* SRB_PostProc;
    uint8_t SRB_Rsvd2[20];
    uint8_t CDBByte[16];
    uint8_t SenseArea[kAspiSenseArea];
};

// SC_ABORT_SRB: asks the layer to give up a request it still holds.
struct SRB_Abort {
    uint8_t SRB_Cmd;
    uint8_t SRB_Status;
    uint8_t SRB_HaId;
    uint8_t SRB_Flags;
    uint32_t SRB_Hdr_Rsvd;
    void* SRB_ToAbort;
};

static_assert(sizeof(SRB_HAInquiry) == 60);
static_assert(offsetof(SRB_HAInquiry, HA_Unique) == 42);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_Target) == 8);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufLen) == 12);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_BufPointer) == 16);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 20);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_TargStat) == 23);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 24);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 48);
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 64);
static_assert(sizeof(SRB_ExecSCSICmd) == 112);
static_assert(sizeof(SRB_Abort) == 12);
static_assert(sizeof(AspiEvent) == 8);
#else
static_assert(offsetof(SRB_ExecSCSICmd, SRB_SenseLen) == 24);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_TargStat) == 27);
static_assert(offsetof(SRB_ExecSCSICmd, SRB_PostProc) == 32);
static_assert(offsetof(SRB_ExecSCSICmd, CDBByte) == 60);
static_assert(offsetof(SRB_ExecSCSICmd, SenseArea) == 76);
static_assert(sizeof(SRB_ExecSCSICmd) == 128);
static_assert(sizeof(SRB_Abort) == 16);
#endif

} // namespace tvx
