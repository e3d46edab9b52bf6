// The text pieces of the music pages: list items, player paths, genre and
// page paths and template expansion.
#include <gtest/gtest.h>

#include "app/GenrePage.h"
#include "app/MusicText.h"
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

// Every place a name goes into markup: a plain name, accents and URL
// characters come through byte for byte; "&", quotes and "<" ">" are escaped.
TEST(ListItems, NamesAreEscapedWhereverTheyGoIntoMarkup) {
    struct Case { const char* name; const char* html; };
    const Case cases[] = {
        {"Cha Cha", "Cha Cha"},
        {"M\xC3\xBAsica Latina", "M\xC3\xBAsica Latina"},
        {"Don't Stop (Live) #2", "Don't Stop (Live) #2"},
        {"50% Off?", "50% Off?"},
        {"Rock & Roll", "Rock &amp; Roll"},
        {"Say \"Hi\"", "Say &quot;Hi&quot;"},
        {"<em>Bold", "&lt;em&gt;Bold"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = c.name, html = c.html;
        const std::string song = "\\site\\audiojs\\" + name + "\\" + name + ".mp3";
        const std::string link = "<li><a href=\"#\" data-src=\"..\\audiojs\\" + html + "\\" + html + ".mp3\">";
        EXPECT_EQ(IndexListItem(song), link + html + "</a></li>");
        EXPECT_EQ(PlaylistListItem(name, song), link + "(" + html + ") " + html + "</a></li>");
        EXPECT_EQ(GenreRow(name),
                  "<tr><td>" + html + "</td><td><input type=\"radio\" name=\"" + html + "\" value=\"AddGenre\"></td></tr>");
        EXPECT_EQ(ExpandGenreTemplate({"BREAKGENRE"}, name, {}),
                  std::vector<std::string>{"<h1>" + html + "<em> Marbeck Ballroom</em></h1>"});
    }
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
