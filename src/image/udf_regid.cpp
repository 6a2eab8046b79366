#include "image/udf_regid.h"

#include "common/byte_order.h"

#include <cstring>

namespace tvx {

namespace {
constexpr char kCs0Name[] = "OSTA Compressed Unicode";
constexpr size_t kRegidIdentifierOffset = 1;
constexpr size_t kRegidIdentifierSize = 23;
constexpr size_t kRegidSuffixOffset = 24;
constexpr uint8_t kDomainFlagsWriteProtect = 3;
constexpr uint8_t kPartitionContentsFlags = 2;

void setRegid(uint8_t* field, uint8_t flags, const char* identifier) {
    std::memset(field, 0, kRegidSize);
    field[0] = flags;
    size_t n = std::strlen(identifier);
    if (n > kRegidIdentifierSize) n = kRegidIdentifierSize;
    std::memcpy(field + kRegidIdentifierOffset, identifier, n);
}
} // namespace

void UDF_SetCharspec(uint8_t* field) {
    std::memset(field, 0, kCharspecSize);
    std::memcpy(field + 1, kCs0Name, sizeof kCs0Name - 1);
}

void UDF_SetImplId(uint8_t* field, const char* identifier) {
    setRegid(field, 0, identifier);
}

void UDF_SetDomainId(uint8_t* field, const char* identifier) {
    setRegid(field, 0, identifier);
    PutLe16(field + kRegidSuffixOffset, kUdfRevision);
    field[kRegidSuffixOffset + 2] = kDomainFlagsWriteProtect;
}

void UDF_SetUdfId(uint8_t* field, const char* identifier) {
    setRegid(field, 0, identifier);
    PutLe16(field + kRegidSuffixOffset, kUdfRevision);
}

void UDF_SetPartitionContentsId(uint8_t* field) {
    setRegid(field, kPartitionContentsFlags, kPartitionContentsId);
}

} // namespace tvx
