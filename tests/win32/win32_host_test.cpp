// The real Windows host (Win32Host) under the system's own calls: the log in %TEMP%, find-first
// and file times, the full path, the time-zone field of recorded time stamps, the ANSI code page,
// registry values read by the drive-number and class-index lookups, and a named mutex shared by
// two processes. Runs under Wine; where Wine differs from Windows the test says so.
#include "frame/log.h"
#include "image/udf_timestamp.h"
#include "platform/win32/win32_host.h"
#include "transport/aspi.h"
#include "transport/spti_device.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using tvx::host;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A fresh folder under the system's temporary folder, removed with its files.
class Folder {
  public:
    Folder() {
        char base[MAX_PATH + 1];
        GetTempPathA(sizeof base, base);
        path_ = std::string(base) + "tvx-win32-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(GetTickCount()) + "\\";
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~Folder() {
        WIN32_FIND_DATAA d;
        HANDLE f = FindFirstFileA((path_ + "*").c_str(), &d);
        if (f != INVALID_HANDLE_VALUE) {
            do {
                std::string p = path_ + d.cFileName;
                if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveDirectoryA(p.c_str());
                else
                    DeleteFileA(p.c_str());
            } while (FindNextFileA(f, &d));
            FindClose(f);
        }
        RemoveDirectoryA(path_.c_str());
    }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

TEST(Win32Log, LinesGoToTheTemporaryFolderWithCrLf) {
    Folder temp;
    // GetTempPathA answers %TMP% first.
    char saved[MAX_PATH + 1] = {};
    DWORD had = GetEnvironmentVariableA("TMP", saved, sizeof saved);
    ASSERT_TRUE(SetEnvironmentVariableA("TMP", temp.path().c_str()));
    EXPECT_EQ(host().tempDirectory(), temp.path());
    tvx::LogWrite("Try: OpenByDeviceFile(%s)\n", "D:");
    tvx::LogWrite("two\nlines\n");
    // A system text ends with its own CR LF, which text mode stores as CR CR LF: the log then
    // shows an empty line after it.
    tvx::LogSystemError(ERROR_ACCESS_DENIED);
    SetEnvironmentVariableA("TMP", had ? saved : nullptr);

    std::string log = ReadAll(temp.path() + "Torvexin.log");
    EXPECT_EQ(log.rfind("Try: OpenByDeviceFile(D:)\r\ntwo\r\nlines\r\n", 0), 0u) << log;
    EXPECT_EQ(log.size() - log.rfind("\r\r\n\r\n"), 5u) << log;
    DeleteFileA((temp.path() + "Torvexin.log").c_str());
}

TEST(Win32Log, SystemErrorTexts) {
    std::string text;
    ASSERT_TRUE(host().systemErrorText(ERROR_FILE_NOT_FOUND, text));
    EXPECT_NE(text.find("\r\n"), std::string::npos);
    EXPECT_FALSE(host().systemErrorText(0x2FFFFFFF, text));
    EXPECT_NE(host().lastError(), 0u);
}

bool RunningOnWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

FILETIME AsFileTime(uint64_t t) {
    FILETIME f;
    f.dwLowDateTime = static_cast<DWORD>(t);
    f.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return f;
}

TEST(Win32Files, FindFirstReportsTimesSizesAndListsFolders) {
    Folder dir;
    std::string file = dir.path() + "Movie.vob";
    {
        auto f = host().openFile(file, tvx::FileAccess::Write);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->write("0123456789", 10), 10u);
    }
    CreateDirectoryA((dir.path() + "VIDEO_TS").c_str(), nullptr);
    const uint64_t created = 128000000000000000ULL, accessed = 128100000000000000ULL,
                   written = 128200000000000000ULL;
    HANDLE h = CreateFileA(file.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, 0);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    FILETIME c = AsFileTime(created), a = AsFileTime(accessed), w = AsFileTime(written);
    ASSERT_TRUE(SetFileTime(h, &c, &a, &w));
    CloseHandle(h);

    std::vector<tvx::FindResult> one;
    std::vector<std::string> skipped;
    ASSERT_TRUE(host().findFiles(file, one, skipped));
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].name, "Movie.vob");
    EXPECT_EQ(one[0].size, 10u);
    // Linux file systems keep no creation time that Wine could set: there it reports another
    // of the file's times. Windows keeps the one set.
    if (!RunningOnWine()) {
        EXPECT_EQ(one[0].creationTime, created);
    }
    EXPECT_EQ(one[0].accessTime, accessed);
    EXPECT_EQ(one[0].writeTime, written);
    EXPECT_FALSE(one[0].attributes & tvx::kAttrDirectory);

    std::vector<tvx::FindResult> all;
    ASSERT_TRUE(host().findFiles(dir.path() + "*.*", all, skipped));
    ASSERT_EQ(all.size(), 2u) << "without . and ..";
    for (const auto& r : all) {
        if (r.name == "VIDEO_TS") {
            EXPECT_TRUE(r.attributes & tvx::kAttrDirectory);
            EXPECT_TRUE(r.volumeId != 0 || r.fileId != 0) << "folders carry an identity";
        } else {
            EXPECT_EQ(r.name, "Movie.vob");
        }
    }
    // The listing one entry at a time names the same entries, with or without a separator.
    for (const std::string& path : {dir.path(), dir.path().substr(0, dir.path().size() - 1)}) {
        std::vector<std::string> names;
        ASSERT_TRUE(host().listFolder(
            path,
            [&names](const tvx::FindResult& r) {
                names.push_back(r.name);
                return true;
            },
            skipped, true));
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"Movie.vob", "VIDEO_TS"})) << path;
    }
    EXPECT_FALSE(host().listFolder(
        dir.path() + "missing", [](const tvx::FindResult&) { return true; }, skipped, false));
    std::vector<tvx::FindResult> folder;
    ASSERT_TRUE(host().findFiles(dir.path() + "VIDEO_TS\\", folder, skipped))
        << "trailing separator";
    EXPECT_EQ(folder.at(0).name, "VIDEO_TS");
    std::vector<tvx::FindResult> none;
    EXPECT_TRUE(host().findFiles(dir.path() + "VIDEO_TS\\*.*", none, skipped)) << "empty";
    EXPECT_TRUE(none.empty());
    EXPECT_FALSE(host().findFiles(dir.path() + "missing\\*.*", none, skipped));
    EXPECT_FALSE(host().findFiles(dir.path() + "missing", none, skipped));
    EXPECT_TRUE(skipped.empty());

    auto folderAsFile = host().openFile(dir.path() + "VIDEO_TS", tvx::FileAccess::Read);
    EXPECT_FALSE(folderAsFile) << "folders are refused";
    EXPECT_FALSE(host().openFile("NUL", tvx::FileAccess::Read)) << "so are devices";
    auto r = host().openFile(file, tvx::FileAccess::Read);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->size(), 10u);
    char buffer[4] = {};
    ASSERT_TRUE(r->seek(6));
    EXPECT_EQ(r->read(buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "6789");
    r.reset();
    DeleteFileA(file.c_str());
}

TEST(Win32Files, FullPathOfARelativePath) {
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    std::string absolute;
    ASSERT_TRUE(host().fullPath("a\\..\\b/c.txt", absolute));
    std::string expected = std::string(cwd);
    if (expected.back() != '\\') expected += '\\';
    EXPECT_EQ(absolute, expected + "b\\c.txt");
    EXPECT_FALSE(host().fullPath(std::string(300, 'x'), absolute)) << "beyond the path limit";
}

// The run sets TZ=Europe/Berlin: Wine takes its zone from the Linux zone of the process (on
// Windows the zone is the system's setting). Standard bias -60, and July is summer time.
TEST(Win32Time, ZoneFieldAndLocalTimeFollowTheSummerRules) {
    TIME_ZONE_INFORMATION zone{};
    GetTimeZoneInformation(&zone);
    if (zone.Bias != -60) GTEST_SKIP() << "run with TZ=Europe/Berlin (bias " << zone.Bias << ")";
    // 2008-07-15 13:45:30 UTC
    const uint64_t july = (1216129530ULL + 11644473600ULL) * 10000000ULL;
    uint8_t field[12] = {};
    tvx::UDF_SetTimestamp(field, july);
    EXPECT_EQ(field[0] | field[1] << 8, 0x1000 | 120) << "type 1, +120 minutes in summer";
    EXPECT_EQ(field[2] | field[3] << 8, 2008);
    EXPECT_EQ(field[4], 7);
    EXPECT_EQ(field[5], 15);
    EXPECT_EQ(field[6], 15) << "13:45 UTC is 15:45 in Berlin's summer";
    EXPECT_EQ(field[7], 45);
    EXPECT_EQ(field[8], 30);
    // January: standard time.
    const uint64_t january = (1200404730ULL + 11644473600ULL) * 10000000ULL; // 2008-01-15 13:45:30
    tvx::CalendarTime local;
    ASSERT_TRUE(host().fileTimeToLocal(january, local));
    EXPECT_EQ(local.hour, 14);
    uint64_t now = host().currentFileTime();
    EXPECT_GT(now, july);
}

TEST(Win32Text, AnsiCodePageRoundTrip) {
    std::u16string wide;
    std::string narrow;
    if (GetACP() == 1252) {
        ASSERT_TRUE(host().ansiToUtf16("caf\xE9", wide));
        EXPECT_EQ(wide, u"caf\u00E9");
        EXPECT_EQ(host().ansiCharLength("\xE9x", 2), 1u);
    }
    ASSERT_TRUE(host().ansiToUtf16("VIDEO_TS", wide));
    ASSERT_TRUE(host().utf16ToAnsi(wide, narrow));
    EXPECT_EQ(narrow, "VIDEO_TS");
    EXPECT_TRUE(host().ansiToUtf16("", wide));
    EXPECT_TRUE(wide.empty());
}

// The run with LANG=ja_JP.UTF-8 gives Wine the Japanese ANSI code page 932.
TEST(Win32Text, DoubleByteLeadBytesInCodePage932) {
    if (GetACP() != 932) GTEST_SKIP() << "code page " << GetACP();
    EXPECT_EQ(host().ansiCharLength("\x82\xA0", 2), 2u);
    EXPECT_EQ(host().ansiCharLength("\x82", 1), 1u) << "a lead byte without its trail";
    EXPECT_EQ(host().ansiCharLength("A\x82", 2), 1u);
    std::u16string wide;
    ASSERT_TRUE(host().ansiToUtf16("\x82\xA0", wide));
    EXPECT_EQ(wide, u"\u3042");
}

// Values written by the test run with `wine reg add` (registry_setup.sh).
TEST(Win32Registry, DriveNumberAndClassIndexFromTheRegistry) {
    if (!host().regOpenKey("System\\CurrentControlSet\\Services\\CdRom\\Enum"))
        GTEST_SKIP() << "registry_setup.sh has not run";
    EXPECT_EQ(tvx::_CorrectDriveNumber('R'), 1);
    EXPECT_EQ(tvx::_CorrectDriveNumber('Q'), -1) << "no mounted-device value";
    EXPECT_EQ(tvx::LetterFromClassIndex(1), 'R');
    EXPECT_EQ(tvx::LetterFromClassIndex(0), 0) << "a class device without a letter";
    EXPECT_EQ(tvx::LetterFromClassIndex(7), 0);
}

// The child: opens the parent's mutex by name and reports whether it could take it at once.
constexpr int kChildBusy = 10, kChildTook = 11, kChildNoMutex = 12, kChildAbandoned = 13;

int MutexChild(const std::string& name, bool keep) {
    HANDLE m = static_cast<HANDLE>(host().openMutex(name));
    if (!m) return kChildNoMutex;
    DWORD r = WaitForSingleObject(m, 0);
    if (r == WAIT_TIMEOUT) return kChildBusy;
    if (keep) ExitProcess(kChildTook); // ends holding it: the mutex is abandoned
    ReleaseMutex(m);
    CloseHandle(m);
    return r == WAIT_ABANDONED ? kChildAbandoned : kChildTook;
}

// The child of the job lock test: tries the parent's job lock.
int JobLockChild(const std::string& name, bool keep) {
    tvx::HostHandle lock = nullptr;
    tvx::LockAttempt attempt = host().tryJobLock(name, lock);
    if (attempt == tvx::LockAttempt::Busy) return kChildBusy;
    if (attempt != tvx::LockAttempt::Acquired) return kChildNoMutex;
    if (keep) ExitProcess(kChildTook); // dies holding it
    host().releaseJobLock(lock);
    return kChildTook;
}

DWORD RunChild(const std::string& name, bool keep, const char* role = "--mutex-child") {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string cmd = std::string("\"") + self + "\" " + role + " " + name + (keep ? " keep" : "");
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return 0;
    WaitForSingleObject(pi.hProcess, 30000);
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return code;
}

TEST(Win32Mutex, NamedMutexIsSharedByTwoProcesses) {
    const std::string name = "MERADIN_TORVEXIN_MUTEX_T" + std::to_string(GetCurrentProcessId());
    EXPECT_EQ(host().openMutex(name), nullptr) << "none before it is made";
    tvx::HostHandle m = host().createMutex(name);
    ASSERT_NE(m, nullptr);
    host().waitMutex(m);
    EXPECT_EQ(RunChild(name, false), DWORD(kChildBusy)) << "held here, so busy there";
    host().releaseMutex(m);
    EXPECT_EQ(RunChild(name, false), DWORD(kChildTook));
    // A holder that dies leaves the mutex abandoned; the next wait still gets it.
    EXPECT_EQ(RunChild(name, true), DWORD(kChildTook));
    EXPECT_EQ(WaitForSingleObject(m, 5000), WAIT_ABANDONED);
    host().releaseMutex(m);
    host().closeMutex(m);
}

TEST(Win32Mutex, JobLocksAreExclusiveInAndAcrossProcesses) {
    const std::string name = "drive-" + std::to_string(GetCurrentProcessId());
    tvx::HostHandle first = nullptr, second = nullptr;
    ASSERT_EQ(host().tryJobLock(name, first), tvx::LockAttempt::Acquired);
    // The system's mutex lets its owner in twice; the lock does not.
    EXPECT_EQ(host().tryJobLock(name, second), tvx::LockAttempt::Busy);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(RunChild(name, false, "--job-lock-child"), DWORD(kChildBusy));
    EXPECT_EQ(host().tryJobLock(name + "-other", second), tvx::LockAttempt::Acquired);
    host().releaseJobLock(second);
    host().releaseJobLock(first);
    // A holder that dies releases it.
    EXPECT_EQ(RunChild(name, true, "--job-lock-child"), DWORD(kChildTook));
    ASSERT_EQ(host().tryJobLock(name, first), tvx::LockAttempt::Acquired);
    host().releaseJobLock(first);
}

// A module asked for by bare name (as the library asks for "WNASPI32") comes from the
// application's folder or the system's only: a DLL of that name in the current directory or on
// PATH, where anyone may have put one beside a document, is never loaded.
TEST(Win32Modules, BareNamesLoadOnlyFromTheApplicationAndSystemFolders) {
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    ASSERT_GT(n, 0u);
    std::string appFolder(self, n);
    appFolder.resize(appFolder.find_last_of('\\') + 1);
    const std::string dll = appFolder + "WNASPI32.dll"; // any DLL of ours serves
    const std::string name = "TVXPLANT" + std::to_string(GetCurrentProcessId());
    Folder planted;
    ASSERT_TRUE(CopyFileA(dll.c_str(), (planted.path() + name + ".DLL").c_str(), FALSE));

    char oldDirectory[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, oldDirectory);
    std::string oldPath(32767, '\0');
    oldPath.resize(GetEnvironmentVariableA("PATH", oldPath.data(), 32767));
    ASSERT_TRUE(SetCurrentDirectoryA(planted.path().c_str()));
    SetEnvironmentVariableA("PATH", (planted.path() + ";" + oldPath).c_str());
    tvx::HostHandle fromPlanted = host().loadModule(name);
    SetCurrentDirectoryA(oldDirectory);
    SetEnvironmentVariableA("PATH", oldPath.c_str());
    EXPECT_EQ(fromPlanted, nullptr) << "loaded from the current directory or PATH";
    if (fromPlanted) host().freeModule(fromPlanted);

    const std::string beside = appFolder + name + ".DLL";
    ASSERT_TRUE(CopyFileA(dll.c_str(), beside.c_str(), FALSE));
    tvx::HostHandle fromApplication = host().loadModule(name);
    EXPECT_NE(fromApplication, nullptr) << "the application's folder is searched";
    if (fromApplication) host().freeModule(fromApplication);
    DeleteFileA(beside.c_str());
}

TEST(Win32Events, ManualAndAutomaticReset) {
    tvx::HostHandle manual = host().createEvent(true, false);
    tvx::HostHandle automatic = host().createEvent(false, true);
    EXPECT_FALSE(host().waitEvent(manual, 0));
    host().setEvent(manual);
    EXPECT_TRUE(host().waitEvent(manual, 0));
    EXPECT_TRUE(host().waitEvent(manual, 0)) << "stays set";
    host().resetEvent(manual);
    EXPECT_FALSE(host().waitEvent(manual, 0));
    EXPECT_TRUE(host().waitEvent(automatic, 0));
    EXPECT_FALSE(host().waitEvent(automatic, 0)) << "reset by the wait";
    host().closeEvent(manual);
    host().closeEvent(automatic);
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "--mutex-child") == 0)
        return MutexChild(argv[2], argc >= 4 && std::strcmp(argv[3], "keep") == 0);
    if (argc >= 3 && std::strcmp(argv[1], "--job-lock-child") == 0)
        return JobLockChild(argv[2], argc >= 4 && std::strcmp(argv[3], "keep") == 0);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
