// Appends that the file system takes only in part: a full disk, or here a
// file size limit, which fails the same way without needing a small disk.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <string>

#include "platform/Files.h"
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
