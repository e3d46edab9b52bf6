// Names-only listings must give exactly what a find-first listing of any
// attributes gives: the same names, in the same order, with the same folder bit.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include "platform/Files.h"
#include "tests/support/TempFolder.h"

namespace {
using TListing = std::vector<std::pair<std::string, bool>>;

TListing ByFindFirst(const std::string& pattern) {
    TListing listing;
    TSearchRec rec;
    if (FindFirst(pattern, faAnyFile, rec) == 0) {
        do listing.emplace_back(rec.Name, (rec.Attr & faDirectory) != 0);
        while (FindNext(rec) == 0);
    }
    FindClose(rec);
    return listing;
}

TListing ByNames(const std::string& pattern) {
    TListing listing;
    for (const auto& entry : ListDirectoryNames(pattern)) listing.emplace_back(entry.Name, entry.IsDirectory);
    return listing;
}
}  // namespace

TEST(ListDirectoryNames, SameAsFindFirstWithAnyAttributes) {
    support::TTempFolder folder;
    // Names that share their first 16 bytes, differ only in case after them,
    // or hold bytes above 127 test the order past the packed sort prefix.
    for (const char* name : {"b.mp3", "B.MP3", "a.mp3", "song.mp3.txt", ".hidden.mp3", "Zed", "zz.mp3", "_x.mp3", "~y.mp3",
                             "Song number 0001.mp3", "song number 0001.mp3", "Song number 0001 b.mp3",
                             "Song number 0001", "Song number 000", "Song number 0001a.mp3", "Song number 0001A.mp3",
                             "\xC3\xA9t\xC3\xA9.mp3", "\xE9.mp3", "e.mp3"})
        std::ofstream(folder / name) << "";
    for (const char* name : {"Rumba", "cha cha", "dir.mp3", ".git"}) std::filesystem::create_directory(folder / name);
    std::filesystem::create_directory_symlink(folder / "Rumba", folder / "link to folder");
    std::filesystem::create_symlink(folder / "a.mp3", folder / "link.mp3");
    std::filesystem::create_symlink(folder / "gone", folder / "dangling.mp3");
    const std::string windows = ToWindowsPath(folder.Path());
    for (const char* mask : {"*.*", "*.mp3", "*", "?.mp3", "nothing*"}) {
        SCOPED_TRACE(mask);
        const std::string pattern = windows + "\\" + mask;
        EXPECT_EQ(ByNames(pattern), ByFindFirst(pattern));
    }
    EXPECT_FALSE(ByNames(windows + "\\*.*").empty());
}

TEST(ListDirectoryNames, MissingFolderGivesNothing) {
    support::TTempFolder folder;
    EXPECT_TRUE(ListDirectoryNames(ToWindowsPath(folder.Path()) + "\\absent\\*.*").empty());
}
