// A host program of Torvexin.dll: loads it with LoadLibrary, resolves every export by its
// undecorated name and uses it through those pointers only, as a host written against the DLL
// does.
#include "torvexin.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

#define TVX_EXPORTS(X)                                                                             \
    X(TVX_Initialize)                                                                              \
    X(TVX_InitializeEx)                                                                            \
    X(TVX_SetWritableMedia)                                                                        \
    X(TVX_Terminate)                                                                               \
    X(TVX_GetVersion) X(TVX_GetLastError) X(TVX_GetDriveCount) X(TVX_GetDriveInfo)                 \
        X(TVX_OpenRecHandle) X(TVX_CloseRecHandle) X(TVX_GetDriveCaps) X(TVX_GetDiscInfo)          \
            X(TVX_GetWriteSpeedCaps) X(TVX_GetDriveStatus) X(TVX_TestReady) X(TVX_EjectMedia)      \
                X(TVX_LoadMedia) X(TVX_BurnVideoTsFolder) X(TVX_BurnDVDVIDEO)                      \
                    X(TVX_BurnVolumeData) X(TVX_BurnFileSet) X(TVX_BurnVolumeImage)                \
                        X(TVX_CheckVideoTsFolderSize) X(TVX_EraseDisc) X(TVX_OpenFile)             \
                            X(TVX_ReadFile) X(TVX_SeekFile) X(TVX_GetFileSize) X(TVX_CloseFile)    \
                                X(TVX_OpenMMap) X(TVX_SyncMMap) X(TVX_CloseMMap)

struct Api {
#define TVX_POINTER(name) decltype(&::name) name = nullptr;
    TVX_EXPORTS(TVX_POINTER)
#undef TVX_POINTER
};

std::string OwnFolder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of("\\/") + 1);
}

class DllTest : public ::testing::Test {
  protected:
    void SetUp() override {
        module_ = LoadLibraryA((OwnFolder() + "Torvexin.dll").c_str());
        ASSERT_NE(module_, nullptr) << "error " << GetLastError();
        int found = 0;
#define TVX_RESOLVE(name)                                                                          \
    api.name = reinterpret_cast<decltype(api.name)>(                                               \
        reinterpret_cast<void*>(GetProcAddress(module_, #name)));                                  \
    EXPECT_NE(api.name, nullptr) << #name;                                                         \
    found += api.name != nullptr;
        TVX_EXPORTS(TVX_RESOLVE)
#undef TVX_RESOLVE
        ASSERT_EQ(found, 32);
    }
    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }

    HMODULE module_ = nullptr;
    Api api;
};

// The export table holds the 32 functions and nothing else, all undecorated.
TEST_F(DllTest, ExportsExactlyTheThirtyTwoFunctions) {
    auto* base = reinterpret_cast<const uint8_t*>(module_);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(dir.VirtualAddress, 0u);
    auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    ASSERT_EQ(exports->NumberOfNames, 32u);
    auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        std::string name = reinterpret_cast<const char*>(base + names[i]);
        EXPECT_EQ(name.rfind("TVX_", 0), 0u) << name;
        EXPECT_EQ(name.find('@'), std::string::npos) << name;
    }
}

// Read back from the DLL's own version resource through the version APIs.
TEST_F(DllTest, VersionComesFromTheResource) {
    uint32_t low = 0xFFFFFFFF;
    EXPECT_EQ(api.TVX_GetVersion(&low), 0x00010003u);
    EXPECT_EQ(low, 0x00000051u);
    EXPECT_EQ(api.TVX_GetVersion(nullptr), 0x00010003u);
}

TEST_F(DllTest, ArgumentChecksWithoutADrive) {
    TVX_DriveInfo info;
    EXPECT_EQ(api.TVX_GetDriveInfo(0, nullptr), TVX_ERR_INVALID_ARG);
    EXPECT_EQ(api.TVX_GetDriveInfo(-1, &info), TVX_ERR_NO_DRIVE);
    EXPECT_EQ(api.TVX_OpenRecHandle(0), nullptr);
    EXPECT_EQ(api.TVX_GetDriveCount(), 0);
}

bool RunningOnWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Start-up through the DLL, with the log in a temporary folder of this test (%TMP%). Windows
// lets only administrators open "\\.\C:", so a user's start-up finds the pass-through probe
// failing on a machine without CD/DVD drives and goes on to the ASPI layer; Wine opens it for
// anyone, so there the pass-through transport is chosen and finds no CD/DVD drive (Wine's
// drives are fixed disks). The burn through WNASPI32.dll is in win32_aspi_test.cpp.
TEST_F(DllTest, StartUpWritesItsTraceToTheTemporaryFolder) {
    char base[MAX_PATH + 1];
    GetTempPathA(sizeof base, base);
    std::string dir = std::string(base) + "tvx-dll-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    char saved[MAX_PATH + 1] = {};
    DWORD had = GetEnvironmentVariableA("TMP", saved, sizeof saved);
    SetEnvironmentVariableA("TMP", dir.c_str());
    int32_t started = api.TVX_Initialize();
    int32_t count = api.TVX_GetDriveCount();
    api.TVX_Terminate();
    SetEnvironmentVariableA("TMP", had ? saved : nullptr);

    std::string log;
    if (FILE* f = std::fopen((dir + "Torvexin.log").c_str(), "rb")) {
        char chunk[4096];
        size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
            log.append(chunk, n);
        std::fclose(f);
    }
    DeleteFileA((dir + "Torvexin.log").c_str());
    RemoveDirectoryA(dir.c_str());

    EXPECT_EQ(log.find("\r\n"), log.find('\n') - 1) << "text mode: CR LF";
    if (RunningOnWine()) {
        EXPECT_EQ(started, 1);
        EXPECT_EQ(log.rfind("Use: SPTI\r\n", 0), 0u) << log;
        EXPECT_EQ(count, 0) << "no CD/DVD drive letter under Wine";
        EXPECT_NE(log.find("Fail: GetDriveType(C:\\) != DRIVE_CDROM\r\n"), std::string::npos)
            << log;
    } else {
        EXPECT_FALSE(log.empty());
    }
}

} // namespace
