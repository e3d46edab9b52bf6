// Whole-file replacement keeps a target's protection: a file without write
// permission is refused as an in-place write would be, for root too.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "platform/Files.h"
#include "tests/support/TempFolder.h"

namespace {
int ModeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

int EntriesIn(const std::string& folder) {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++n;
    return n;
}
}  // namespace

TEST(WriteFileAtomic, ReplacesAWritableTargetKeepingItsMode) {
    support::TTempFolder dir;
    const std::string target = dir / "a.opt";
    ASSERT_TRUE(WriteWholeFile(target, "old"));
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    EXPECT_TRUE(WriteFileAtomic(target, "new"));
    std::string content;
    ASSERT_TRUE(ReadWholeFile(target, content));
    EXPECT_EQ(content, "new");
    EXPECT_EQ(ModeOf(target), 0640);
    EXPECT_EQ(EntriesIn(dir.Path()), 1);
}

TEST(WriteFileAtomic, RefusesATargetWithoutWritePermission) {
    support::TTempFolder dir;
    const std::string target = dir / "a.opt";
    ASSERT_TRUE(WriteWholeFile(target, "frozen"));
    ASSERT_EQ(chmod(target.c_str(), 0444), 0);
    EXPECT_FALSE(WriteFileAtomic(target, "changed"));
    std::string content;
    ASSERT_TRUE(ReadWholeFile(target, content));
    EXPECT_EQ(content, "frozen");
    EXPECT_EQ(ModeOf(target), 0444);
    EXPECT_EQ(EntriesIn(dir.Path()), 1) << "no temporary file left";
    EXPECT_TRUE(WriteFileAtomic(dir / "fresh.opt", "x")) << "a missing target is created";
}
