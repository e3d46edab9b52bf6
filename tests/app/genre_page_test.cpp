// The genre selection page: the index report first, then the form with one
// row per genre folder, and the shared style block byte for byte.
#include <gtest/gtest.h>

#include "app/GenrePage.h"
#include "app/Options.h"
#include "app/PageChrome.h"
#include "tests/app/music_test_request.h"
#include "tests/app/music_test_site.h"
#include "tests/support/Files.h"

namespace {
const std::vector<std::string> Variables = {"HTTP_HOST=example.host", "SCRIPT_NAME=/cgi/prog.exe"};

TPage GenrePage() {
    return RunRequest({}, Variables, [] { WriteGenreSelectionPage(); });
}

// The style block as the pages have always sent it, kept as a file so a
// change to it shows as a change to that file.
const std::vector<std::string> StyleBlock = support::GoldenLines("app/golden/style_block.html");

// The page after the report block, up to and without the footer.
std::vector<std::string> FormLines(const std::vector<std::string>& genres) {
    std::vector<std::string> lines = {"<html><head><meta name=\"Generator\" content=\"Valsetto\">",
                                      "<title>Valsetto Playlist Generator</title>"};
    lines.insert(lines.end(), StyleBlock.begin(), StyleBlock.end());
    lines.insert(lines.end(), {
        "</head><body bgcolor=\"#000000\" link=\"FF0000\" vlink=\"#FF0000\" text=\"#FF0066\">",
        "<center><h2>Marbeck Ballroom Playlist Builder</h2></center>",
        "<br><center>Build your own custom Playlist with the selections below<br>",
        "A new random playlist is created each time you use this tool.<br>",
        "<form action=\"http://example.host/cgi/prog.exe\" method=\"post\">",
        "<input name=\"command\" type=\"hidden\" value=\"playlistgen\">",
        "<center><table border=1><tr>",
        "<td><b> Select the Genres for your Playlist </b></td><td></td></tr>",
        "<br><br>",
    });
    for (const auto& genre : genres)
        lines.push_back("<tr><td>" + genre + "</td><td><input type=\"radio\" name=\"" + genre +
                        "\" value=\"AddGenre\"></td></tr>");
    lines.insert(lines.end(), {
        "<tr><td> &nbsp </td><td> &nbsp </td></tr>",
        "<tr><td><b>Maximum Number of songs for playlist &nbsp</b></td><td></td></tr>",
        "<tr><td>15</td><td><input type=\"radio\" name=\"numsongs\" value=\"15\"></td></tr>",
        "<tr><td>25</td><td><input type=\"radio\" name=\"numsongs\" value=\"25\" checked></td></tr>",
        "<tr><td>50</td><td><input type=\"radio\" name=\"numsongs\" value=\"50\"></td></tr>",
        "<tr><td>75</td><td><input type=\"radio\" name=\"numsongs\" value=\"75\"></td></tr>",
        "</table><br><input value=\"Build Playlist\" type=\"submit\"> &nbsp &nbsp <input value=\"Clear Above "
        "Selections\" type=reset></form>",
        "</center>",
    });
    return lines;
}

bool IsFooter(const std::string& line) { return line.rfind("<br><br><br><p><center><font size=-2>Valsetto - ", 0) == 0; }

class GenrePageTest : public testing::Test {
protected:
    void SetUp() override { Options = TOptionsRecord{}; }
    TMusicSite site;
};
}  // namespace

TEST(WriteStyleBlock, TwentySevenLinesExactly) {
    EXPECT_EQ(RunRequest({}, {}, [] { WriteStyleBlock(); }).Lines, StyleBlock);
}

TEST_F(GenrePageTest, ReportThenOneRowPerGenreFolderInListingOrder) {
    site.AddGenre("Rock.n.Roll", {});
    site.AddGenre("Cha Cha", {"a.mp3"});
    site.AddGenre("bolero", {});
    const TPage page = GenrePage();

    EXPECT_EQ(page.ContentType, "text/html; charset=utf-8");
    ASSERT_GE(page.Lines.size(), 5u);
    EXPECT_EQ(page.Lines[0], "<html><body bgcolor=\"#FFFFFF\" text=\"#0000AA\">");
    EXPECT_EQ(page.Lines[1], "<font size=4> - REPORT -</font><p>");
    EXPECT_EQ(page.Lines[2].rfind("Index Built ", 0), 0u);
    EXPECT_TRUE(IsFooter(page.Lines[3]));
    const std::vector<std::string> form(page.Lines.begin() + 4, page.Lines.end() - 1);
    EXPECT_EQ(form, FormLines({"bolero", "Cha Cha", "Rock.n.Roll"}));
    EXPECT_TRUE(IsFooter(page.Lines.back()));
}

// With no creatable index the page falls back on the folder list on disk.
TEST_F(GenrePageTest, UsesTheOldFolderListWhenTheIndexCannotBeBuilt) {
    std::filesystem::create_directory(site.ProgramFolderOs() + "/MusicIndex.txt");
    site.Write("folders.txt", "C:\\web\\audiojs\\Tango\r\nC:\\web\\audiojs\\Slow Fox\r\n");
    const TPage page = GenrePage();
    const std::vector<std::string> form(page.Lines.begin(), page.Lines.end() - 1);
    EXPECT_EQ(form, FormLines({"Tango", "Slow Fox"}));
}

TEST_F(GenrePageTest, NoGenreFoldersGiveAFormWithoutRows) {
    const TPage page = GenrePage();
    const std::vector<std::string> form(page.Lines.begin() + 4, page.Lines.end() - 1);
    EXPECT_EQ(form, FormLines({}));
}

// A folder list that cannot be read ends the request after the page head.
TEST_F(GenrePageTest, MissingFolderListEndsThePageAfterItsHead) {
    std::filesystem::create_directory(site.ProgramFolderOs() + "/MusicIndex.txt");
    const TPage page = GenrePage();
    EXPECT_NE(page.Error.find("folders.txt"), std::string::npos) << page.Error;
    const std::vector<std::string> head = FormLines({});
    const std::size_t headLines = head.size() - 8;
    EXPECT_EQ(page.BeforeError, std::vector<std::string>(head.begin(), head.begin() + static_cast<long>(headLines)));
}
