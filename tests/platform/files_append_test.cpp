// Appends that the file system takes only in part: a full disk, or here a
// file size limit, which fails the same way without needing a small disk.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "tests/support/Children.h"
#include "tests/support/TempFolder.h"

namespace {
// Runs body with the process's file size limit at limit bytes; a write past
// it is cut short or refused (EFBIG) instead of raising SIGXFSZ.
template <class TBody>
void WithFileSizeLimit(rlim_t limit, TBody body) {
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    body();  // no output while the limit holds: it would apply to a log file too
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
}
}  // namespace

// The line that does not fit is taken back whole; a later one that fits is
// added; the file never ends in a torn line.
TEST(AppendToFileTest, LineThatDoesNotFitLeavesNoTornLine) {
    support::TTempFolder dir;
    const std::string log = dir / "hits.log";
    ASSERT_TRUE(WriteWholeFile(log, "12/8/2026\r\n"));  // 11 bytes
    bool longLine = true, stillTooLong = true, shortLine = false;
    WithFileSizeLimit(20, [&] {
        longLine = AppendToFile(log, "12/8/2026 9:01:53 AM\r\n");  // 9 of its 22 bytes would fit
        stillTooLong = AppendToFile(log, "1/1/2026\r\n");        // 10 bytes, 9 would fit
        shortLine = AppendToFile(log, "a\r\n");                  // 3 bytes fit
    });
    EXPECT_FALSE(longLine);
    EXPECT_FALSE(stillTooLong);
    EXPECT_TRUE(shortLine);
    std::string content;
    ASSERT_TRUE(ReadWholeFile(log, content));
    EXPECT_EQ(content, "12/8/2026\r\na\r\n");
}

// Nothing fits at all: the file stays as it was and the append reports it.
TEST(AppendToFileTest, FullFileStaysAsItWas) {
    support::TTempFolder dir;
    const std::string log = dir / "trace.tst";
    ASSERT_TRUE(WriteWholeFile(log, "0123456789"));
    bool appended = true;
    WithFileSizeLimit(10, [&] { appended = AppendToFile(log, "more\r\n"); });
    EXPECT_FALSE(appended);
    std::string content;
    ASSERT_TRUE(ReadWholeFile(log, content));
    EXPECT_EQ(content, "0123456789");
}

// The bound: an append that would take the file past it first moves the file
// to its previous generation (replacing an older one); an empty file takes
// even a line longer than the bound.
TEST(AppendBoundedTest, MovesTheFileAsideOnlyWhenTheAppendWouldPassTheBound) {
    struct TCase {
        const char* name;
        std::string before;
        std::string line;
        bool moved;
    };
    const TCase cases[] = {
        {"fits exactly", std::string(16, 'a'), "bcd\r\n", false},
        {"one byte over", std::string(17, 'a'), "bcd\r\n", true},
        {"empty file, long line", "", std::string(30, 'x') + "\r\n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        support::TTempFolder dir;
        const std::string log = dir / "Tunewright.tst";
        const std::string previous = PreviousGenerationName(log);
        ASSERT_TRUE(WriteWholeFile(previous, "older generation\r\n"));
        if (!c.before.empty()) {
            ASSERT_TRUE(WriteWholeFile(log, c.before));
        }
        ASSERT_TRUE(AppendBounded(log, c.line, 21));
        std::string current, old;
        ASSERT_TRUE(ReadWholeFile(log, current));
        ASSERT_TRUE(ReadWholeFile(previous, old));
        EXPECT_EQ(current, c.moved ? c.line : c.before + c.line);
        EXPECT_EQ(old, c.moved ? c.before : "older generation\r\n");
    }
}

// Writers in several processes: every generation stays within the bound and
// holds whole lines only.
TEST(AppendBoundedTest, ConcurrentWritersKeepTheBoundAndWholeLines) {
    support::TTempFolder dir;
    const std::string log = dir / "gateway.Log";
    constexpr int processes = 3, linesEach = 150;
    constexpr std::uint64_t limit = 2000;
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        const pid_t pid = support::StartForked([&] {
            const std::string line = "writer " + std::to_string(p) + " " + std::string(40, 'a' + p) + "\r\n";
            for (int i = 0; i < linesEach; ++i)
                if (!AppendBounded(log, line, limit)) return 1;
            return 0;
        });
        ASSERT_GE(pid, 0);
        children.push_back(pid);
    }
    for (const pid_t pid : children) EXPECT_EQ(support::WaitChild(pid), 0);
    for (const std::string& file : {log, PreviousGenerationName(log)}) {
        std::string content;
        ASSERT_TRUE(ReadWholeFile(file, content));
        EXPECT_LE(content.size(), limit);
        EXPECT_EQ(content.size() % 51, 0u) << file;  // 49 characters and CR LF per line
        for (std::size_t at = 0; at < content.size(); at += 51) EXPECT_EQ(content.compare(at, 7, "writer "), 0);
    }
}
