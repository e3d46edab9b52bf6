// The music index builder on a real folder tree: the three index files byte
// for byte, the genre pages from the template, the trace and the report.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/MusicFiles.h"
#include "app/MusicIndex.h"
#include "app/Options.h"
#include "platform/Exception.h"
#include "platform/StringList.h"
#include "tests/app/music_test_request.h"
#include "tests/app/music_test_site.h"

namespace {
const char* const Template = "<html>\r\nBREAKGENRE\r\n<ul>\r\nBREAKMUSIC playlist\r\n</ul>\r\n</html>\r\n";

std::vector<std::string> TraceOf(const TMusicSite& site) {
    TStringList lines;
    lines.SetText(site.Read("Tunewright.tst"));
    return lines.Lines();
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

bool HasTemporaryFile(const TMusicSite& site, const std::string& osFolder) {
    const auto names = site.Entries(osFolder);
    return std::any_of(names.begin(), names.end(), [](const std::string& n) { return n.find(".part") != std::string::npos; });
}

TPage BuildIndex() {
    return RunRequest({}, {}, [] { RunMusicIndex(); });
}

class MusicIndex : public testing::Test {
protected:
    void SetUp() override { Options = TOptionsRecord{}; }
    void TearDown() override { Options = TOptionsRecord{}; }
    TMusicSite site;
};
}  // namespace

TEST_F(MusicIndex, ThreeGenresTwoZeroAndThreeSongs) {
    site.AddGenre("Cha Cha", {"b.mp3", "A Blue.Moon.mp3", "notes.txt"});
    site.AddGenre("Empty", {});
    site.AddGenre("rumba", {"Z.MP3", "x.mp3", "y.mp3"});
    site.Write("stray.mp3", "");
    site.Write("index.txt", Template);
    site.Write("folders.txt", "old content\r\n");
    const std::string pf = site.ProgramFolderWindows();

    const TPage page = BuildIndex();

    EXPECT_EQ(site.Read("folders.txt"), CrLfLines({pf + "Cha Cha", pf + "Empty", pf + "rumba"}));
    const std::vector<std::string> songs = {pf + "Cha Cha\\A Blue.Moon.mp3", pf + "Cha Cha\\b.mp3", pf + "rumba\\x.mp3",
                                            pf + "rumba\\y.mp3", pf + "rumba\\Z.MP3"};
    EXPECT_EQ(site.Read("MP3filelist.txt"), CrLfLines(songs));
    const std::vector<std::string> chaCha = {
        "<li><a href=\"#\" data-src=\"..\\audiojs\\Cha Cha\\A Blue.Moon.mp3\">A Blue.Moon</a></li>",
        "<li><a href=\"#\" data-src=\"..\\audiojs\\Cha Cha\\b.mp3\">b</a></li>"};
    const std::vector<std::string> rumba = {"<li><a href=\"#\" data-src=\"..\\audiojs\\rumba\\x.mp3\">x</a></li>",
                                            "<li><a href=\"#\" data-src=\"..\\audiojs\\rumba\\y.mp3\">y</a></li>",
                                            "<li><a href=\"#\" data-src=\"..\\audiojs\\rumba\\Z.MP3\">Z</a></li>"};
    std::vector<std::string> all = chaCha;
    all.insert(all.end(), rumba.begin(), rumba.end());
    EXPECT_EQ(site.Read("MusicIndex.txt"), CrLfLines(all));

    auto pageOf = [](const std::string& genre, const std::vector<std::string>& items) {
        std::vector<std::string> lines = {"<html>", "<h1>" + genre + "<em> Marbeck Ballroom</em></h1>", "<ul>"};
        lines.insert(lines.end(), items.begin(), items.end());
        lines.insert(lines.end(), {"</ul>", "</html>"});
        return CrLfLines(lines);
    };
    EXPECT_EQ(site.ReadSite("Cha Cha/index.html"), pageOf("Cha Cha", chaCha));
    EXPECT_EQ(site.ReadSite("rumba/index.html"), pageOf("rumba", rumba));
    EXPECT_FALSE(site.SiteExists("Empty/index.html"));
    EXPECT_FALSE(HasTemporaryFile(site, site.ProgramFolderOs()));
    EXPECT_FALSE(HasTemporaryFile(site, site.SiteFolderOs() + "/rumba"));

    ASSERT_EQ(page.Lines.size(), 4u);
    EXPECT_EQ(page.ContentType, "text/html; charset=utf-8");
    EXPECT_EQ(page.Lines[0], "<html><body bgcolor=\"#FFFFFF\" text=\"#0000AA\">");
    EXPECT_EQ(page.Lines[1], "<font size=4> - REPORT -</font><p>");
    EXPECT_TRUE(StartsWith(page.Lines[2], "Index Built ")) << page.Lines[2];
    EXPECT_GT(page.Lines[2].size(), std::string("Index Built 1/1/2026").size() - 1);
    EXPECT_TRUE(StartsWith(page.Lines[3], "<br><br><br><p><center><font size=-2>Valsetto - ")) << page.Lines[3];
}

TEST_F(MusicIndex, TraceNamesFoldersSongsAndPages) {
    Options.diagnostics = 1;
    site.AddGenre("Cha Cha", {"a.mp3"});
    site.AddGenre("Rumba", {"b.mp3", "c.mp3"});
    site.Write("index.txt", Template);
    const std::string pf = site.ProgramFolderWindows();
    const std::string sitePf = pf.substr(0, pf.size() - std::string("audiojs\\").size());

    BuildIndex();

    const std::vector<std::string> want = {
        "Cha Cha", pf + "Cha Cha", "Rumba", pf + "Rumba",
        "\\audiojs\\Cha Cha\\a.mp3", "Cha Cha",
        "\\audiojs\\Rumba\\b.mp3", "Rumba",
        "New Genre Rumba", "Build page " + sitePf + "\\Cha Cha\\index.html",
        "\\audiojs\\Rumba\\c.mp3", "Rumba",
        "Build page " + sitePf + "\\Rumba\\index.html",
    };
    EXPECT_EQ(TraceOf(site), want);
}

// Rock.n.Roll is offered as a genre but scanned as Rock.n, which holds nothing.
TEST_F(MusicIndex, DottedFolderIsListedButScannedCutAtItsLastDot) {
    site.AddGenre("Rock.n.Roll", {"twist.mp3"});
    site.Write("index.txt", Template);
    BuildIndex();
    EXPECT_EQ(site.Read("folders.txt"), CrLfLines({site.ProgramFolderWindows() + "Rock.n.Roll"}));
    EXPECT_EQ(site.Read("MP3filelist.txt"), "");
    EXPECT_EQ(site.Read("MusicIndex.txt"), "");
    EXPECT_FALSE(site.SiteExists("Rock.n.Roll/index.html"));
}

TEST_F(MusicIndex, NoSubfoldersGivesEmptyFilesAndTheReport) {
    site.Write("index.txt", Template);
    site.Write("loose.mp3", "");
    const TPage page = BuildIndex();
    for (const char* name : {"folders.txt", "MP3filelist.txt", "MusicIndex.txt"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(site.Exists(name));
        EXPECT_EQ(site.Read(name), "");
    }
    EXPECT_EQ(page.Lines.size(), 4u);
}

TEST_F(MusicIndex, MissingTemplateLeavesEmptyPages) {
    Options.diagnostics = 1;
    site.AddGenre("Tango", {"t.mp3"});
    BuildIndex();
    EXPECT_TRUE(site.SiteExists("Tango/index.html"));
    EXPECT_EQ(site.ReadSite("Tango/index.html"), "");
    const auto trace = TraceOf(site);
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back(), "Missing index.txt");
}

// A genre without its folder beside "audiojs" loses only its page, and
// leaves no trace line for it.
TEST_F(MusicIndex, UncreatablePageIsSkippedQuietly) {
    Options.diagnostics = 1;
    site.AddGenre("Lost", {"l.mp3"}, /*withPage=*/false);
    site.AddGenre("Waltz", {"w.mp3"});
    site.Write("index.txt", Template);
    BuildIndex();
    EXPECT_FALSE(site.SiteExists("Lost/index.html"));
    EXPECT_TRUE(site.SiteExists("Waltz/index.html"));
    const auto trace = TraceOf(site);
    const auto pages = std::count_if(trace.begin(), trace.end(), [](const std::string& l) { return StartsWith(l, "Build page "); });
    EXPECT_EQ(pages, 1);
    EXPECT_EQ(site.Read("MusicIndex.txt").find("Lost") != std::string::npos, true);
}

TEST_F(MusicIndex, UncreatableIndexTouchesNothing) {
    site.AddGenre("Tango", {"t.mp3"});
    site.Write("index.txt", Template);
    std::filesystem::create_directory(site.ProgramFolderOs() + "/MusicIndex.txt");
    const TPage page = BuildIndex();
    EXPECT_TRUE(page.Lines.empty());
    EXPECT_FALSE(site.Exists("folders.txt"));
    EXPECT_FALSE(site.Exists("MP3filelist.txt"));
    EXPECT_FALSE(site.SiteExists("Tango/index.html"));
    EXPECT_FALSE(HasTemporaryFile(site, site.ProgramFolderOs()));
}

// Outside a site's "audiojs" folder the links carry the whole path and no
// song has a genre, so no page is built.
TEST(MusicIndexOutsideSite, LinksCarryTheFullPath) {
    Options = TOptionsRecord{};
    TMusicSite site("music");
    site.AddGenre("Rumba", {"r.mp3"});
    site.Write("index.txt", Template);
    RunRequest({}, {}, [] { RunMusicIndex(); });
    const std::string song = site.ProgramFolderWindows() + "Rumba\\r.mp3";
    EXPECT_EQ(site.Read("MusicIndex.txt"), CrLfLines({"<li><a href=\"#\" data-src=\".." + song + "\">r</a></li>"}));
    EXPECT_FALSE(site.Exists("Rumba/index.html"));
}

// A replaced file is the old one until Commit and the new one after it; an
// abandoned replacement leaves no temporary file behind.
TEST(ReplacementFile, OldContentUntilCommitAndNothingLeftOnFailure) {
    TMusicSite site;
    site.Write("list.txt", "old\r\n");
    const std::string target = site.ProgramFolderWindows() + "list.txt";
    {
        TReplacementFile file(target);
        ASSERT_TRUE(file.Create());
        file.WriteLine("new");
        EXPECT_EQ(site.Read("list.txt"), "old\r\n");
    }
    EXPECT_EQ(site.Read("list.txt"), "old\r\n");
    EXPECT_FALSE(HasTemporaryFile(site, site.ProgramFolderOs()));
    {
        TReplacementFile file(target);
        ASSERT_TRUE(file.Create());
        file.WriteLine(std::string(100000, 'x'));
        file.WriteLine("");
        file.Commit();
    }
    EXPECT_EQ(site.Read("list.txt"), std::string(100000, 'x') + "\r\n\r\n");
    EXPECT_FALSE(HasTemporaryFile(site, site.ProgramFolderOs()));
    EXPECT_THROW(SaveListReplacing({"a"}, site.ProgramFolderWindows() + "missing\\list.txt"), EFileError);
}
