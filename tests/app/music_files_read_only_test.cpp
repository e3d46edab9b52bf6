// Files of the music index and the playlist that the site owner has made
// read-only are kept as they are, as they would be on the host, where such a
// file cannot be created over.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "app/MusicIndex.h"
#include "app/OnlineUnit.h"
#include "app/Options.h"
#include "app/Playlist.h"
#include "platform/Exception.h"
#include "tests/app/music_test_request.h"
#include "tests/app/music_test_site.h"

namespace {
const char* const Template = "<html>\r\nBREAKGENRE\r\n<ul>\r\nBREAKMUSIC\r\n<insert songlist>\r\n</ul>\r\n</html>\r\n";

class ReadOnlyMusicFiles : public testing::Test {
protected:
    void SetUp() override {
        Options = TOptionsRecord{};
        site.AddGenre("Rumba", {"r1.mp3", "r2.mp3"});
        site.AddGenre("Tango", {"t1.mp3"});
        site.Write("index.txt", Template);
    }
    void TearDown() override { Options = TOptionsRecord{}; }
    void Freeze(const std::string& osPath, const std::string& content) const {
        support::WriteFileBytes(osPath, content);
        ASSERT_EQ(chmod(osPath.c_str(), 0444), 0);
    }
    TMusicSite site;
};
}  // namespace

TEST_F(ReadOnlyMusicFiles, ReadOnlyGenrePageIsKeptAndTheOthersBuilt) {
    Freeze(site.SiteFolderOs() + "/Rumba/index.html", "hand-made\r\n");
    const TPage page = RunRequest({}, {}, [] { RunMusicIndex(); });
    EXPECT_EQ(page.Error, "");
    EXPECT_EQ(site.ReadSite("Rumba/index.html"), "hand-made\r\n");
    EXPECT_NE(site.ReadSite("Tango/index.html").find("t1"), std::string::npos);
    EXPECT_EQ(site.Entries(site.SiteFolderOs() + "/Rumba").size(), 1u) << "no temporary file left";
}

TEST_F(ReadOnlyMusicFiles, ReadOnlyIndexStopsTheBuildBeforeAnyFile) {
    Freeze(site.ProgramFolderOs() + "/MusicIndex.txt", "frozen\r\n");
    const TPage page = RunRequest({}, {}, [] { RunMusicIndex(); });
    EXPECT_EQ(page.Error, "");
    EXPECT_TRUE(page.Lines.empty());
    EXPECT_EQ(site.Read("MusicIndex.txt"), "frozen\r\n");
    EXPECT_FALSE(site.Exists("folders.txt"));
    EXPECT_FALSE(site.SiteExists("Tango/index.html"));
}

TEST_F(ReadOnlyMusicFiles, ReadOnlyListFileFailsThePlaylistAndKeepsTheFile) {
    struct Case { const char* file; };
    for (const Case c : {Case{"Songlist.txt"}, Case{"RandomPlaylist.txt"}}) {
        SCOPED_TRACE(c.file);
        const std::string path = site.ProgramFolderOs() + "/" + c.file;
        Freeze(path, "frozen\r\n");
        const TPage page = RunRequest({"command=playlistgen", "Rumba=AddGenre", "numsongs=15"}, {},
                                      [] { GeneratePlaylist(); });
        EXPECT_NE(page.Error.find(c.file), std::string::npos) << page.Error;
        EXPECT_EQ(site.Read(c.file), "frozen\r\n");
        ASSERT_EQ(chmod(path.c_str(), 0644), 0);
        std::remove(path.c_str());
    }
}
