#include "source_date.h"

#include "image/udf_timestamp.h"
#include "platform/posix/posix_host.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace tvxcli {

namespace {

// The last second an ISO 9660 directory record can hold (its year is 1900 plus a byte).
constexpr int64_t kLastRecordable = 5869583999; // 2155-12-31T23:59:59
constexpr uint64_t kTicksPerSecond = 10000000;
constexpr uint64_t kSecondsFrom1601To1970 = 11644473600;

class SourceDateHost final : public tvx::PosixHost {
  public:
    explicit SourceDateHost(int64_t seconds)
        : time_((static_cast<uint64_t>(seconds) + kSecondsFrom1601To1970) * kTicksPerSecond) {}

    uint64_t currentFileTime() override { return time_; }
    // UTC: the same bytes whatever the zone of the machine that builds the volume.
    bool fileTimeToLocal(uint64_t fileTime, tvx::CalendarTime& local) override {
        local = tvx::FileTimeToUtc(fileTime);
        return true;
    }
    bool findFiles(const std::string& query, std::vector<tvx::FindResult>& results,
                   std::vector<std::string>& skipped) override {
        const bool ok = PosixHost::findFiles(query, results, skipped);
        for (tvx::FindResult& r : results)
            clamp(r);
        return ok;
    }
    bool listFolder(const std::string& folder, const tvx::FolderVisitor& each,
                    std::vector<std::string>& skipped, bool openFiles) override {
        return PosixHost::listFolder(
            folder,
            [&](const tvx::FindResult& found) {
                tvx::FindResult r = found;
                clamp(r);
                return each(r);
            },
            skipped, openFiles);
    }

  private:
    void clamp(tvx::FindResult& r) const {
        r.accessTime = std::min(r.accessTime, time_);
        r.writeTime = std::min(r.writeTime, time_);
        r.creationTime = std::min(r.creationTime, time_);
    }
    uint64_t time_;
};

} // namespace

bool ReadSourceDate(std::optional<int64_t>& seconds, std::string& error) {
    seconds.reset();
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (!text || !*text) return true;
    int64_t value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9' || value > kLastRecordable) {
            value = -1;
            break;
        }
        value = value * 10 + (*p - '0');
    }
    if (value < 0 || value > kLastRecordable) {
        error = std::string("SOURCE_DATE_EPOCH '") + text +
                "' is not a count of seconds since 1970 up to the end of 2155";
        return false;
    }
    seconds = value;
    return true;
}

void UseSourceDate(int64_t seconds) {
    // Lives as long as the process: the builder may ask it until the end.
    static std::unique_ptr<SourceDateHost> host;
    host = std::make_unique<SourceDateHost>(seconds);
    tvx::setHost(host.get());
}

} // namespace tvxcli
