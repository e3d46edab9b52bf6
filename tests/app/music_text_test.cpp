// The text pieces of the music pages: list items, player paths, genre and
// page paths, template expansion and the playlist request's fields.
#include <gtest/gtest.h>

#include "app/MusicText.h"
#include "app/PlaylistFields.h"
#include "platform/StringList.h"

namespace {
std::vector<std::string> Lines(const std::string& text) {
    TStringList list;
    list.SetText(text);
    return list.Lines();
}
}  // namespace

TEST(PlayerPath, FromAudiojsOnwardsWithBackslashes) {
    struct Case { const char* song; const char* want; };
    const Case cases[] = {
        {"C:\\web\\audiojs\\Rumba\\Blue Moon.mp3", "\\audiojs\\Rumba\\Blue Moon.mp3"},
        {"\\var\\www\\AudioJS\\Cha Cha\\a.b.mp3", "\\AudioJS\\Cha Cha\\a.b.mp3"},  // found ignoring case, kept as is
        {"C:\\web\\audiojs/Rumba/x.mp3", "\\audiojs\\Rumba\\x.mp3"},
        {"\\srv\\music\\Rumba\\x.mp3", "\\srv\\music\\Rumba\\x.mp3"},             // outside the site: whole path
        {"\\srv/music/x.mp3", "\\srv/music/x.mp3"},                               // and unchanged
        {"\\a\\audiojs2\\x.mp3", "\\audiojs2\\x.mp3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.song);
        EXPECT_EQ(PlayerPath(c.song), c.want);
    }
}

TEST(PlayerPath, CutAtFiveHundredCharacters) {
    const std::string tail = "\\audiojs\\" + std::string(600, 'x') + ".mp3";
    EXPECT_EQ(PlayerPath("C:\\web" + tail), tail.substr(0, 500));
}

TEST(ListItems, IndexAndPlaylistItemsCarryThePlayerPathAndTitle) {
    const std::string song = "\\var\\www\\audiojs\\Cha Cha\\Blue.Moon.mp3";
    EXPECT_EQ(IndexListItem(song), "<li><a href=\"#\" data-src=\"..\\audiojs\\Cha Cha\\Blue.Moon.mp3\">Blue.Moon</a></li>");
    EXPECT_EQ(PlaylistListItem("Cha Cha", song),
              "<li><a href=\"#\" data-src=\"..\\audiojs\\Cha Cha\\Blue.Moon.mp3\">(Cha Cha) Blue.Moon</a></li>");
    EXPECT_EQ(IndexListItem("\\srv\\Rumba\\noext"), "<li><a href=\"#\" data-src=\"..\\srv\\Rumba\\noext\">noext</a></li>");
}

TEST(GenreOfPlayerPath, FolderAfterAudiojs) {
    struct Case { const char* player; const char* want; };
    const Case cases[] = {
        {"\\audiojs\\Rumba\\x.mp3", "Rumba"},
        {"\\AUDIOJS\\Cha Cha\\x.mp3", "Cha Cha"},
        {"\\audiojs\\Rock.n\\deep\\x.mp3", "Rock.n"},
        {"\\audiojs\\x.mp3", "x.mp3"},       // a song directly in the program folder
        {"\\audiojs2\\Rumba\\x.mp3", ""},     // "\audiojs\" is not there: empty genre
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.player);
        EXPECT_EQ(GenreOfPlayerPath(c.player), c.want);
    }
}

TEST(GenrePagePath, LandsBesideAudiojsOrInTheGenreFolder) {
    EXPECT_EQ(GenrePagePath("\\site\\audiojs\\", "Cha Cha"), "\\site\\\\Cha Cha\\index.html");
    EXPECT_EQ(GenrePagePath("\\site\\AudioJS\\", "Rumba"), "\\site\\\\Rumba\\index.html");
    EXPECT_EQ(GenrePagePath("\\srv\\music\\", "Rumba"), "\\srv\\music\\\\Rumba\\index.html");
}

TEST(ExpandGenreTemplate, MarkersAtLineStartOnly) {
    const std::vector<std::string> items = {"<li>a</li>", "<li>b</li>"};
    const auto page = ExpandGenreTemplate(
        Lines("<html>\r\nBREAKGENRE rest dropped\r\n BREAKGENRE\r\nbreakmusic\r\nBREAKMUSIC\r\n<hr>\r\nBREAKMUSICxyz\r\n"
              "<insert songlist>\r\n"),
        "Cha Cha", items);
    const std::vector<std::string> want = {
        "<html>",      "<h1>Cha Cha<em> Marbeck Ballroom</em></h1>",
        " BREAKGENRE", "breakmusic",
        "<li>a</li>",  "<li>b</li>",
        "<hr>",        "<li>a</li>",
        "<li>b</li>",  "<insert songlist>",
    };
    EXPECT_EQ(page, want);
}

TEST(ExpandGenreTemplate, NoItemsDropsTheMusicMarker) {
    EXPECT_EQ(ExpandGenreTemplate(Lines("a\nBREAKMUSIC\nb"), "G", {}), (std::vector<std::string>{"a", "b"}));
}

TEST(ExpandPlaylistTemplate, EveryMarkerLineGetsTheWholePlaylist) {
    const std::vector<std::string> playlist = {"<li>1</li>", "<li>2</li>"};
    struct Case { const char* name; const char* text; std::vector<std::string> want; };
    const Case cases[] = {
        {"marker inside a line", "<ul><insert songlist></ul>\nend",
         {"<li>1</li>", "<li>2</li>", "end"}},
        {"several markers", "<insert songlist>\nmid\n<insert songlist>",
         {"<li>1</li>", "<li>2</li>", "mid", "<li>1</li>", "<li>2</li>"}},
        {"no marker", "a\nBREAKMUSIC\n<INSERT songlist>", {"a", "BREAKMUSIC", "<INSERT songlist>"}},
        {"empty lines stay", "a\r\n\r\nb\r\n", {"a", "", "b"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ExpandPlaylistTemplate(Lines(c.text), playlist), c.want);
    }
}

TEST(ScanPlaylistFields, SongCount) {
    struct Case { const char* entry; std::int32_t want; };
    const Case cases[] = {
        {"numsongs=15", 15}, {"numsongs=75", 75}, {"numsongs=abc", 25}, {"numsongs=1000", 100},
        {"numsongs=0", 0},   {"numsongs=", 25},   {"numsongs=7x", 25},  {"xnumsongs=50", 50},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        EXPECT_EQ(ScanPlaylistFields(PostedFields({"Rumba=AddGenre", c.entry})).SongCount, c.want);
    }
    EXPECT_EQ(ScanPlaylistFields(PostedFields({"Rumba=AddGenre"})).SongCount, 25);
}

TEST(ScanPlaylistFields, GenresInFieldOrderAndLastCountWins) {
    const auto request = ScanPlaylistFields(PostedFields(
        {"Cha Cha=AddGenre", "command=playlistgen", "numsongs=15", "Rock.n.Roll=AddGenre", "numsongs=50",
         "x=AddGenre=AddGenre", "=AddGenre", "Tango=addgenre", "y=1=AddGenre", "Cha%20Cha=AddGenre"}));
    std::vector<std::string> sent, decoded;
    for (const auto& genre : request.Genres) {
        sent.push_back(genre.Sent);
        decoded.push_back(genre.Decoded);
    }
    EXPECT_EQ(sent, (std::vector<std::string>{"Cha Cha", "Rock.n.Roll", "x", "", "y=1", "Cha%20Cha"}));
    EXPECT_EQ(decoded, (std::vector<std::string>{"Cha Cha", "Rock.n.Roll", "x", "", "y=1", "Cha Cha"}));
    EXPECT_EQ(request.SongCount, 50);
    EXPECT_TRUE(ScanPlaylistFields(PostedFields({"command=playlistgen", "numsongs=15"})).Genres.empty());
}

TEST(GenreFolderFor, OnlyListedFoldersAsSentOrDecoded) {
    const std::vector<std::string> listed = {"Cha Cha", "Rock.n.Roll", "Cha+Cha", "a\\b", "Tango"};
    struct Case { const char* posted; const char* want; };
    const Case cases[] = {
        {"Tango", "Tango"},         {"Cha+Cha", "Cha+Cha"},      // as sent wins over decoded
        {"Cha%20Cha", "Cha Cha"},   {"Rock.n.Roll", "Rock.n.Roll"},
        {"Cha%2BCha", "Cha+Cha"},   {"tango", ""},               // exact case
        {"..", ""},                 {"%2E%2E", ""},
        {"..%2FTango", ""},         {"Tango%2F..", ""},
        {"a%5Cb", ""},              {"a\\b", ""},                // a listed name with a separator
        {"", ""},                   {"Nope", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.posted);
        EXPECT_EQ(GenreFolderFor(PostedGenre(c.posted), listed), c.want);
    }
}
