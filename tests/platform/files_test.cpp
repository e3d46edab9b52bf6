#include "platform/Files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <map>
#include <thread>
#include <vector>

#include "tests/support/Children.h"
#include "tests/support/TempFolder.h"

namespace {
void Make(const std::string& path, const std::string& content = "x") { ASSERT_TRUE(WriteWholeFile(path, content)); }

std::vector<std::string> Listing(const std::string& pattern, int attributes, int* firstResult = nullptr) {
    std::vector<std::string> names;
    TSearchRec rec;
    int result = FindFirst(pattern, attributes, rec);
    if (firstResult) *firstResult = result;
    for (int guard = 0; result == 0 && guard < 1000; ++guard) {
        names.push_back(rec.Name);
        result = FindNext(rec);
    }
    EXPECT_TRUE(result == ERROR_NO_MORE_FILES || names.empty()) << "ended with " << result;
    FindClose(rec);
    return names;
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    return names;
}

class FindFirstTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"b.txt", "A.TXT", "c.mp3", "_x", "Zed", ".hidden", "ro.txt"}) Make(dir / name);
        ASSERT_TRUE(CreateDir(dir / "sub"));
        ASSERT_EQ(chmod((dir / "ro.txt").c_str(), 0444), 0);
    }
    support::TTempFolder dir;
};
}  // namespace

TEST_F(FindFirstTest, SortedIgnoringCaseAndFilteredByAttributes) {
    using Names = std::vector<std::string>;
    struct Case {
        const char* pattern;
        int attributes;
        Names want;
    };
    const Case cases[] = {
        // "_" sorts after the letters: names are compared upper-cased.
        {"*", faAnyFile, {".", "..", ".hidden", "A.TXT", "b.txt", "c.mp3", "ro.txt", "sub", "Zed", "_x"}},
        {"*.*", faAnyFile, {".", "..", ".hidden", "A.TXT", "b.txt", "c.mp3", "ro.txt", "sub", "Zed", "_x"}},
        {"*", 0, {"A.TXT", "b.txt", "c.mp3", "ro.txt", "Zed", "_x"}},
        {"*", faHidden, {".hidden", "A.TXT", "b.txt", "c.mp3", "ro.txt", "Zed", "_x"}},
        {"*", faDirectory, {".", "..", "A.TXT", "b.txt", "c.mp3", "ro.txt", "sub", "Zed", "_x"}},
        {"*.txt", 0, {"A.TXT", "b.txt", "ro.txt"}},
        {"*.TXT", faReadOnly, {"A.TXT", "b.txt", "ro.txt"}},
        {"?.txt", 0, {"A.TXT", "b.txt"}},
        {"??.txt", 0, {"ro.txt"}},
        {"*.mp3", faAnyFile, {"c.mp3"}},
        {"SUB", faDirectory, {"sub"}},
        {"SUB", 0, {}},
        {"z*", 0, {"Zed"}},
        {"*x", 0, {"_x"}},
        {"nothing*", faAnyFile, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " attributes " + std::to_string(c.attributes));
        EXPECT_EQ(Listing(dir / c.pattern, c.attributes), c.want);
    }
}

TEST_F(FindFirstTest, ReportsAttributesSizeAndTime) {
    Make(dir / "sized", std::string(1234, 'z'));
    const TDateTime when = EncodeDate(2021, 7, 4) + EncodeTime(9, 8, 7, 654);
    ASSERT_TRUE(FileSetDateTime(dir / "sized", when));
    std::map<std::string, TSearchRec> found;
    TSearchRec rec;
    for (int r = FindFirst(dir / "*", faAnyFile, rec); r == 0; r = FindNext(rec)) found[rec.Name] = rec;
    FindClose(rec);
    EXPECT_EQ(found["sub"].Attr & (faDirectory | faHidden), faDirectory);
    EXPECT_EQ(found["sub"].Size, 0);
    EXPECT_EQ(found["."].Attr & (faDirectory | faHidden), faDirectory) << "\".\" is not hidden";
    EXPECT_EQ(found[".."].Attr & (faDirectory | faHidden), faDirectory);
    EXPECT_EQ(found[".hidden"].Attr & faHidden, faHidden);
    EXPECT_EQ(found["ro.txt"].Attr & faReadOnly, faReadOnly);
    EXPECT_EQ(found["b.txt"].Attr & (faReadOnly | faDirectory | faHidden), 0);
    EXPECT_EQ(found["sized"].Size, 1234);
    EXPECT_NEAR(found["sized"].Time, when, 0.5 / MSecsPerDay);
}

TEST_F(FindFirstTest, ErrorCodesTellMissingFolderFromNoMatch) {
    TSearchRec rec;
    EXPECT_EQ(FindFirst(dir / "missing/*", faAnyFile, rec), ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(FindFirst(dir / "b.txt/*", faAnyFile, rec), ERROR_PATH_NOT_FOUND) << "a file as folder";
    EXPECT_EQ(FindFirst(dir / "*.none", faAnyFile, rec), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(FindFirst(dir / "*.mp3", faAnyFile, rec), 0);
    EXPECT_EQ(FindNext(rec), ERROR_NO_MORE_FILES);
    EXPECT_EQ(FindNext(rec), ERROR_NO_MORE_FILES);
    FindClose(rec);
    EXPECT_EQ(FindNext(rec), ERROR_NO_MORE_FILES) << "after FindClose";
}

TEST_F(FindFirstTest, CopiedRecordOutlivesTheOriginal) {
    TSearchRec copy;
    {
        TSearchRec rec;
        ASSERT_EQ(FindFirst(dir / "*.txt", 0, rec), 0);
        copy = rec;
        FindClose(rec);
    }
    EXPECT_EQ(copy.Name, "A.TXT");
    EXPECT_EQ(FindNext(copy), 0);
    EXPECT_EQ(copy.Name, "b.txt");
    FindClose(copy);
}

TEST_F(FindFirstTest, PatternWithoutFolderListsCurrentFolder) {
    support::TCurrentFolder here(dir.Path());
    EXPECT_EQ(Listing("*.mp3", 0), std::vector<std::string>{"c.mp3"});
    EXPECT_EQ(Listing("sub\\*", faAnyFile), (std::vector<std::string>{".", ".."}));
}

TEST_F(FindFirstTest, BackslashPatternReachesRealFolder) {
    EXPECT_EQ(Listing(ToWindowsPath(dir / "*.mp3"), 0), std::vector<std::string>{"c.mp3"});
    // A Windows path whose folder part holds a "." component, as the server folder does.
    EXPECT_EQ(Listing(ToWindowsPath(dir.Path() + "/sub/../.") + "\\c.*", 0), std::vector<std::string>{"c.mp3"});
}

TEST(MatchesMask, Wildcards) {
    struct Case {
        const char* name;
        const char* pattern;
        bool want;
    };
    const Case cases[] = {
        {"song.mp3", "*.mp3", true},  {"SONG.MP3", "*.mp3", true},   {"song.mp3x", "*.mp3", false},
        {"noext", "*.*", true},       {"", "*", true},              {"abc", "a?c", true},
        {"ac", "a?c", false},         {"abbbc", "a*c", true},        {"abcd", "a*c", false},
        {"x.exe_s", "x.EXE_S", true}, {"x.exe_REQ", "x.exe_*_req", false}, {"x.exe_1-2_REQ", "x.exe_*_req", true},
        {"a.b_c", "*.*_*", true},     {"ab_c", "*.*_*", false},      {"aaa", "*a*a*a*", true},
        {"aa", "*a*a*a*", false},     {"name", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " ~ " + c.pattern);
        EXPECT_EQ(MatchesMask(c.name, c.pattern), c.want);
    }
}

TEST(Files, BackslashPathsReachRealFiles) {
    support::TTempFolder dir;
    const std::string windows = ToWindowsPath(dir / "a.txt");
    ASSERT_NE(windows.find('\\'), std::string::npos);
    ASSERT_TRUE(WriteWholeFile(windows, "hello"));
    std::string content;
    ASSERT_TRUE(ReadWholeFile(dir / "a.txt", content));
    EXPECT_EQ(content, "hello");
    EXPECT_TRUE(FileExists(windows));
    EXPECT_EQ(FileSizeOf(windows), 5);
    EXPECT_TRUE(CreateDir(ToWindowsPath(dir / "f")));
    EXPECT_TRUE(DirectoryExists(dir / "f"));
    EXPECT_TRUE(RenameFile(windows, ToWindowsPath(dir / "f/b.txt")));
    EXPECT_TRUE(FileExists(dir / "f/b.txt"));
    EXPECT_TRUE(DeleteFile(ToWindowsPath(dir / "f/b.txt")));
    EXPECT_TRUE(RemoveDir(ToWindowsPath(dir / "f")));
    EXPECT_FALSE(DirectoryExists(dir / "f"));
}

TEST(Files, FoldersAreNotFiles) {
    support::TTempFolder dir;
    EXPECT_FALSE(FileExists(dir.Path()));
    EXPECT_TRUE(DirectoryExists(dir.Path()));
    EXPECT_EQ(FileOpen(dir.Path(), fmOpenRead), INVALID_HANDLE_VALUE);
    EXPECT_EQ(FileSizeOf(dir.Path()), -1);
    EXPECT_EQ(FileSizeOf(dir / "missing"), -1);
    std::string content = "kept";
    EXPECT_FALSE(ReadWholeFile(dir.Path(), content));
    EXPECT_FALSE(ReadWholeFile(dir / "missing", content));
    EXPECT_EQ(content, "kept") << "a failed read leaves the output alone";
    EXPECT_FALSE(DeleteFile(dir.Path()));
}

TEST(Files, RenameReplacesExistingTarget) {
    support::TTempFolder dir;
    Make(dir / "old", "new content");
    Make(dir / "target", "old content");
    ASSERT_TRUE(RenameFile(dir / "old", dir / "target"));
    std::string content;
    ASSERT_TRUE(ReadWholeFile(dir / "target", content));
    EXPECT_EQ(content, "new content");
    EXPECT_FALSE(FileExists(dir / "old"));
    EXPECT_FALSE(RenameFile(dir / "old", dir / "target")) << "a missing source";
}

TEST(Files, DateTimeRoundTripKeepsMilliseconds) {
    support::TTempFolder dir;
    Make(dir / "f");
    const TDateTime cases[] = {
        EncodeDate(2026, 12, 8) + EncodeTime(6, 15, 30, 123), EncodeDate(2024, 7, 1) + EncodeTime(23, 59, 59, 999),
        EncodeDate(1999, 1, 1) + EncodeTime(0, 0, 0, 1), EncodeDate(2026, 3, 29) + EncodeTime(12, 0, 0, 500)};
    for (TDateTime when : cases) {
        SCOPED_TRACE(DateTimeToStr(when));
        ASSERT_TRUE(FileSetDateTime(ToWindowsPath(dir / "f"), when));
        TDateTime back = 0;
        ASSERT_TRUE(FileGetDateTime(dir / "f", back));
        EXPECT_NEAR(back, when, 0.01 / MSecsPerDay);
        int h = 0, m = 0, s = 0, ms = 0, h2 = 0, m2 = 0, s2 = 0, ms2 = 0;
        DecodeTime(when, h, m, s, ms);
        DecodeTime(back, h2, m2, s2, ms2);
        EXPECT_EQ(ms2, ms);
        EXPECT_EQ(s2, s);
    }
    TDateTime ignored = 0;
    EXPECT_FALSE(FileGetDateTime(dir / "missing", ignored));
    EXPECT_FALSE(FileSetDateTime(dir / "missing", cases[0]));
}

TEST(Files, HandlesReadWriteSeek) {
    support::TTempFolder dir;
    const THandle h = FileCreate(dir / "h");
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(FileWrite(h, "abcdef", 6), 6);
    EXPECT_EQ(FileSeek(h, 2, 0), 2);
    char buffer[8] = {};
    EXPECT_EQ(FileRead(h, buffer, 3), 3);
    EXPECT_EQ(std::string(buffer, 3), "cde");
    EXPECT_EQ(FileSeek(h, -1, 2), 5);
    EXPECT_EQ(FileSeek(h, 0, 1), 5);
    EXPECT_EQ(FileRead(h, buffer, 8), 1);
    EXPECT_EQ(FileRead(h, buffer, 8), 0) << "end of file";
    FileClose(h);
    const THandle again = FileCreate(dir / "h");
    FileClose(again);
    EXPECT_EQ(FileSizeOf(dir / "h"), 0) << "FileCreate truncates";
    EXPECT_EQ(FileOpen(dir / "missing", fmOpenRead | fmShareDenyNone), INVALID_HANDLE_VALUE);
    const THandle ro = FileOpen(dir / "h", fmOpenRead);
    EXPECT_EQ(FileWrite(ro, "x", 1), -1) << "opened for reading only";
    FileClose(ro);
}

TEST(WriteFileAtomic, ReplacesWholeAndKeepsPermissions) {
    support::TTempFolder dir;
    Make(dir / "opt", "old");
    ASSERT_EQ(chmod((dir / "opt").c_str(), 0640), 0);
    ASSERT_TRUE(WriteFileAtomic(ToWindowsPath(dir / "opt"), "new"));
    std::string content;
    ASSERT_TRUE(ReadWholeFile(dir / "opt", content));
    EXPECT_EQ(content, "new");
    struct stat st {};
    ASSERT_EQ(stat((dir / "opt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"opt"}) << "no temporary file left";
}

TEST(WriteFileAtomic, FailureLeavesNoTemporaryFile) {
    support::TTempFolder dir;
    ASSERT_TRUE(CreateDir(dir / "target"));
    Make(dir / "target/inside");
    EXPECT_FALSE(WriteFileAtomic(dir / "target", "content")) << "a folder cannot be replaced";
    EXPECT_FALSE(WriteFileAtomic(dir / "missing/file", "content"));
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"target"});
}

TEST(WriteFileAtomic, ReaderNeverSeesHalfFile) {
    support::TTempFolder dir;
    const std::string path = dir / "opt";
    const std::string a(300000, 'a');
    const std::string b(100000, 'b');
    ASSERT_TRUE(WriteFileAtomic(path, a));
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 60; ++i) EXPECT_TRUE(WriteFileAtomic(path, i % 2 ? a : b));
        done = true;
    });
    int reads = 0, bad = 0;
    while (!done && reads < 100000) {
        std::string content;
        ASSERT_TRUE(ReadWholeFile(path, content));
        if (content != a && content != b) ++bad;
        ++reads;
    }
    writer.join();
    EXPECT_EQ(bad, 0) << "of " << reads << " reads";
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"opt"});
}

TEST(AppendToFile, ConcurrentWritersInterleaveWholeLines) {
    support::TTempFolder dir;
    const std::string log = ToWindowsPath(dir / "gateway.log");
    constexpr int processes = 3, threads = 3, linesEach = 200;
    auto writeLines = [&](int writer) {
        const std::string line = "writer " + std::to_string(writer) + " " + std::string(200, 'a' + writer) + "\r\n";
        for (int i = 0; i < linesEach; ++i)
            if (!AppendToFile(log, line)) return false;
        return true;
    };
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        const pid_t pid = support::StartForked([&] { return writeLines(p) ? 0 : 1; });
        ASSERT_GE(pid, 0);
        children.push_back(pid);
    }
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) workers.emplace_back([&, t] { EXPECT_TRUE(writeLines(processes + t)); });
    for (auto& w : workers) w.join();
    for (pid_t pid : children) EXPECT_EQ(support::WaitChild(pid), 0);
    std::string content;
    ASSERT_TRUE(ReadWholeFile(log, content));
    std::map<int, int> counts;
    std::size_t start = 0;
    int broken = 0;
    while (start < content.size()) {
        const auto end = content.find("\r\n", start);
        ASSERT_NE(end, std::string::npos);
        const std::string line = content.substr(start, end - start);
        const int writer = line.size() > 7 ? line[7] - '0' : -1;
        if (writer < 0 || line != "writer " + std::to_string(writer) + " " + std::string(200, 'a' + writer))
            ++broken;
        else
            ++counts[writer];
        start = end + 2;
    }
    EXPECT_EQ(broken, 0);
    for (int w = 0; w < processes + threads; ++w) EXPECT_EQ(counts[w], linesEach) << "writer " << w;
}
