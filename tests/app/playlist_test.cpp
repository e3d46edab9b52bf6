// Playlist requests on a real folder tree: the list files, the page from the
// template, the no-genre page, posted names that are no genre folder, and
// the same playlist for the same seed.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/OnlineUnit.h"
#include "app/Options.h"
#include "app/Playlist.h"
#include "platform/Random.h"
#include "platform/StringList.h"
#include "tests/app/music_test_request.h"
#include "tests/app/music_test_site.h"

namespace {
std::vector<std::string> SplitLines(const std::string& text) {
    TStringList lines;
    lines.SetText(text);
    return lines.Lines();
}

std::string Song(const std::string& genre, const std::string& title) {
    return "<li><a href=\"#\" data-src=\"..\\audiojs\\" + genre + "\\" + title + ".mp3\">(" + genre + ") " + title +
           "</a></li>";
}

std::vector<std::string> Titles(const std::string& stem, int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back(stem + " " + std::to_string(100 + i) + ".mp3");
    return names;
}

TPage Post(const std::vector<std::string>& fields, std::uint32_t seed = 36903250) {
    RandomState = seed;
    return RunRequest(fields, {}, [] { GeneratePlaylist(); });
}

// The items of a page between the template's first and last line.
std::vector<std::string> ItemsOf(const TPage& page) {
    std::vector<std::string> items;
    for (const auto& line : page.Lines)
        if (line.rfind("<li>", 0) == 0) items.push_back(line);
    return items;
}

std::string GenreOf(const std::string& item) {
    const auto open = item.find("\">(") + 3;
    return item.substr(open, item.find(") ", open) - open);
}

class PlaylistTest : public testing::Test {
protected:
    void SetUp() override {
        Options = TOptionsRecord{};
        site.Write("index.txt", "<html>\r\n<ol><insert songlist></ol>\r\n</html>\r\n");
    }
    TMusicSite site;
};
}  // namespace

TEST_F(PlaylistTest, NoGenreGivesTheNoGenrePageAndWritesNoList) {
    site.AddGenre("Rumba", {"r.mp3"});
    const TPage page = Post({"command=playlistgen", "numsongs=15"});
    ASSERT_EQ(page.Lines.size(), 34u);
    EXPECT_EQ(page.ContentType, "text/html; charset=utf-8");
    EXPECT_EQ(page.Lines[0], "<html><head><meta name=\"Generator\" content=\"Valsetto\">");
    EXPECT_EQ(page.Lines[1], "<title>Valsetto Playlist Generator</title>");
    EXPECT_EQ(page.Lines[2], "<style type=\"text/css\">");
    EXPECT_EQ(page.Lines[28], "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">");
    const std::vector<std::string> tail(page.Lines.begin() + 29, page.Lines.end() - 1);
    EXPECT_EQ(tail, (std::vector<std::string>{
                        "</head><body bgcolor=\"#000000\" link=\"FF0000\" vlink=\"#FF0000\" text=\"#FF0066\">",
                        "<center><h1>You Must Select at least one Genre</h1></center>",
                        "<br><center>Please go back and try again<br>", "</center>"}));
    EXPECT_EQ(page.Lines.back().rfind("<br><br><br><p><center><font size=-2>Valsetto - ", 0), 0u);
    EXPECT_FALSE(site.Exists("Songlist.txt"));
    EXPECT_FALSE(site.Exists("RandomPlaylist.txt"));
    EXPECT_EQ(page.HeaderSends, 0);
}

TEST_F(PlaylistTest, ListFilesAndPageHoldTheDrawnSongs) {
    site.AddGenre("Cha Cha", {"Blue.Moon.mp3", "Amor.mp3"});
    site.AddGenre("Rumba", {"r1.mp3"});
    const TPage page = Post({"Cha Cha=AddGenre", "command=playlistgen", "numsongs=25", "Rumba=AddGenre"});

    EXPECT_EQ(site.Read("Songlist.txt"),
              CrLfLines({"Cha Cha|" + Song("Cha Cha", "Amor"), "Cha Cha|" + Song("Cha Cha", "Blue.Moon"),
                         "Rumba|" + Song("Rumba", "r1")}));
    const std::vector<std::string> items = ItemsOf(page);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(site.Read("RandomPlaylist.txt"), CrLfLines(items));
    std::vector<std::string> want = items;
    want.insert(want.begin(), "<html>");
    want.push_back("</html>");
    EXPECT_EQ(page.Lines, want);
    EXPECT_EQ(page.HeaderSends, 1);
    std::vector<std::string> sorted = items;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{Song("Cha Cha", "Amor"), Song("Cha Cha", "Blue.Moon"), Song("Rumba", "r1")}));
}

// The genres rotate in the sorted order of the field list, not in the order
// the page posted them.
TEST_F(PlaylistTest, CountsAndRotation) {
    site.AddGenre("Bolero", Titles("b", 40));
    site.AddGenre("jive", Titles("j", 40));
    site.AddGenre("Tango", Titles("t", 40));
    struct Case { const char* count; std::size_t items; };
    const Case cases[] = {{"numsongs=25", 25}, {"numsongs=15", 15}, {"numsongs=abc", 25}, {"numsongs=1000", 100},
                          {"numsongs=0", 1}};
    const std::vector<std::string> order = {"Bolero", "jive", "Tango"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.count);
        const auto items = ItemsOf(Post({"Tango=AddGenre", c.count, "jive=AddGenre", "Bolero=AddGenre"}));
        ASSERT_EQ(items.size(), c.items);
        const auto start = std::find(order.begin(), order.end(), GenreOf(items[0])) - order.begin();
        for (std::size_t k = 0; k < items.size(); ++k)
            ASSERT_EQ(GenreOf(items[k]), order[(start + k) % 3]) << "item " << k;
    }
}

TEST_F(PlaylistTest, GenreThatRunsOutLeavesTheRestToTheOther) {
    site.AddGenre("Few", Titles("f", 3));
    site.AddGenre("Many", Titles("m", 100));
    const auto items = ItemsOf(Post({"Few=AddGenre", "Many=AddGenre", "numsongs=15"}));
    ASSERT_EQ(items.size(), 15u);
    EXPECT_EQ(std::count_if(items.begin(), items.end(), [](const std::string& i) { return GenreOf(i) == "Few"; }), 3);
}

TEST_F(PlaylistTest, SameSeedSameFoldersSamePlaylist) {
    site.AddGenre("Samba", Titles("s", 30));
    site.AddGenre("Salsa", Titles("x", 30));
    const std::vector<std::string> fields = {"Salsa=AddGenre", "Samba=AddGenre", "numsongs=50"};
    const auto first = ItemsOf(Post(fields, 1234));
    EXPECT_EQ(ItemsOf(Post(fields, 1234)), first);
    EXPECT_NE(ItemsOf(Post(fields, 4321)), first);
}

// A posted name reaches the file system only as one of the listed genre
// folders; paths, parents and the program folder itself give no songs.
TEST_F(PlaylistTest, NamesThatAreNoGenreFolderGiveNoSongs) {
    site.AddGenre("Rumba", {"r.mp3"});
    site.Write("own.mp3", "");
    std::filesystem::create_directories(site.SiteFolderOs() + "/outside");
    support::WriteFileBytes(site.SiteFolderOs() + "/outside/secret.mp3", "");
    for (const char* name : {"..\\outside", "../outside", "..", ".", "Rumba\\..\\..\\outside", "rumba", "Nope"}) {
        SCOPED_TRACE(name);
        const TPage page = Post({std::string(name) + "=AddGenre", "numsongs=15"});
        EXPECT_TRUE(ItemsOf(page).empty());
        EXPECT_EQ(site.Read("Songlist.txt"), "");
        EXPECT_EQ(page.Lines, (std::vector<std::string>{"<html>", "</html>"}));
    }
}

TEST_F(PlaylistTest, TemplateShapes) {
    site.AddGenre("Waltz", {"w.mp3"});
    struct Case { const char* name; const char* text; bool present; std::vector<std::string> want; };
    const Case cases[] = {
        {"several marker lines", "a\r\n<insert songlist>\r\nb\r\nx<insert songlist>y\r\n", true,
         {"a", Song("Waltz", "w"), "b", Song("Waltz", "w")}},
        {"no marker", "<html>\r\n</html>\r\n", true, {"<html>", "</html>"}},
        {"no template", "", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(site.ProgramFolderOs() + "/index.txt");
        if (c.present) site.Write("index.txt", c.text);
        const TPage page = Post({"Waltz=AddGenre"});
        EXPECT_EQ(page.Lines, c.want);
        EXPECT_EQ(site.Read("RandomPlaylist.txt"), CrLfLines({Song("Waltz", "w")}));
    }
}

TEST_F(PlaylistTest, ChosenGenresWithoutSongsGiveTheTemplateAlone) {
    Options.diagnostics = 1;
    site.AddGenre("Quiet", {});
    site.AddGenre("Still", {"readme.txt"});
    const TPage page = Post({"Quiet=AddGenre", "Still=AddGenre", "numsongs=15"});
    EXPECT_EQ(page.Lines, (std::vector<std::string>{"<html>", "</html>"}));
    EXPECT_EQ(site.Read("RandomPlaylist.txt"), "");
    const auto trace = SplitLines(site.Read("Tunewright.tst"));
    EXPECT_EQ(trace, (std::vector<std::string>{"numsongs=15", "Quiet=AddGenre", "Still=AddGenre",
                                               "Playlistcount 0  songlistcount 0 ii 1"}));
}

TEST_F(PlaylistTest, TraceSummarisesTheDraw) {
    Options.diagnostics = 1;
    site.AddGenre("Foxtrot", Titles("f", 10));
    Post({"Foxtrot=AddGenre", "command=playlistgen", "numsongs=4"});
    const auto trace = SplitLines(site.Read("Tunewright.tst"));
    EXPECT_EQ(trace, (std::vector<std::string>{"command=playlistgen", "Foxtrot=AddGenre", "numsongs=4",
                                               "Playlistcount 4  songlistcount 6 ii 4"}));
}
