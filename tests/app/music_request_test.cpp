// The music pages as a web server sees them: whole CGI requests through the
// program's main sequence, answered on standard output.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/app/app_harness.h"
#include "tests/support/Files.h"

namespace {
int Occurrences(const std::string& text, const std::string& what) {
    int count = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

}  // namespace

TEST(MusicRequests, GenrePageFollowsTheIndexReport) {
    TSite site;
    site.AddGenre("Cha Cha", {"a.mp3"}, false);
    site.AddGenre("Rock.n.Roll", {"b.mp3"}, false);
    const TAnswer answer = Serve(site, Get("P"));
    ASSERT_TRUE(answer.Exited);
    const std::string body = answer.Body();
    EXPECT_EQ(body.find("<html><body bgcolor=\"#FFFFFF\" text=\"#0000AA\">\r\n<font size=4> - REPORT -</font><p>\r\n"
                        "Index Built "),
              0u)
        << body.substr(0, 200);
    EXPECT_NE(body.find("<form action=\"http://localhost:8080/audiojs/playlist.cgi\" method=\"post\">\r\n"),
              std::string::npos);
    const auto chaCha = body.find("<tr><td>Cha Cha</td><td><input type=\"radio\" name=\"Cha Cha\" value=\"AddGenre\">");
    const auto rock = body.find("<tr><td>Rock.n.Roll</td><td><input type=\"radio\" name=\"Rock.n.Roll\"");
    ASSERT_NE(chaCha, std::string::npos);
    ASSERT_NE(rock, std::string::npos);
    EXPECT_LT(chaCha, rock);
    EXPECT_TRUE(site.Exists("folders.txt"));
    EXPECT_TRUE(site.Exists("MP3filelist.txt"));
}

TEST(MusicRequests, IndexCommandWritesOnlyTheReport) {
    TSite site;
    site.AddGenre("Tango", {"t.mp3"}, false);
    const std::string body = Serve(site, Get("I")).Body();
    EXPECT_EQ(Occurrences(body, "\r\n"), 4) << body;
    EXPECT_NE(site.Read("MusicIndex.txt").find(">t</a></li>\r\n"), std::string::npos);
}

TEST(MusicRequests, PlaylistPostDrawsFromTheCheckedGenresOnly) {
    TSite site;
    for (int i = 0; i < 20; ++i) {
        site.AddGenre("Cha Cha", {"c" + std::to_string(i) + ".mp3"}, false);
        site.AddGenre("Rumba", {"r" + std::to_string(i) + ".mp3"}, false);
        site.AddGenre("Tango", {"t" + std::to_string(i) + ".mp3"}, false);
    }
    site.Write("index.txt", "<html><ul>\r\n<insert songlist>\r\n</ul></html>\r\n");
    const TAnswer answer = Serve(site, Post("Cha+Cha=AddGenre&Tango=AddGenre&numsongs=15&command=playlistgen"));
    ASSERT_TRUE(answer.Exited);
    const std::string body = answer.Body();
    EXPECT_EQ(Occurrences(body, "<li>"), 15) << body;
    EXPECT_EQ(Occurrences(body, "(Cha Cha) ") + Occurrences(body, "(Tango) "), 15);
    EXPECT_EQ(Occurrences(body, "(Rumba) "), 0);
    EXPECT_EQ(body.find("<html><ul>\r\n<li>"), 0u);
}

TEST(MusicRequests, PostedPathsNeverReachTheFileSystem) {
    TSite site;
    site.AddGenre("Rumba", {"r.mp3"}, false);
    const std::string outside = site.ProgramFolderOs() + "-outside";
    std::filesystem::create_directories(outside);
    support::WriteFileBytes(outside + "/leak.mp3", "");
    site.Write("index.txt", "<insert songlist>\r\n");
    const std::string name = "..%2F" + std::filesystem::path(outside).filename().string();
    const std::string body = Serve(site, Post(name + "=AddGenre&command=playlistgen")).Body();
    std::filesystem::remove_all(outside);
    EXPECT_EQ(body.find("leak"), std::string::npos) << body;
    EXPECT_EQ(Occurrences(body, "<li>"), 0);
}

TEST(MusicRequests, PostWithoutGenresAsksForOne) {
    TSite site;
    const std::string body = Serve(site, Post("numsongs=25&command=playlistgen")).Body();
    EXPECT_NE(body.find("\r\n<center><h1>You Must Select at least one Genre</h1></center>\r\n"), std::string::npos);
    EXPECT_FALSE(site.Exists("Songlist.txt"));
}

// Names as a real collection has them: the genre page offers them escaped,
// the browser posts them back form-encoded as UTF-8, and the playlist holds
// their songs, escaped where they go into markup.
TEST(MusicRequests, NamesWithAccentsAmpersandsAndQuotesRoundTrip) {
    TSite site;
    site.AddGenre("M\xC3\xBAsica Latina", {"Canci\xC3\xB3n del Mar.mp3"}, false);
    site.AddGenre("Rock & Roll", {"Say \"Hi\".mp3"}, false);
    site.AddGenre("Rock & Roll", {"50% Off?.mp3"}, false);
    const std::string form = Serve(site, Get("P")).Body();
    EXPECT_NE(form.find("<tr><td>Rock &amp; Roll</td><td><input type=\"radio\" name=\"Rock &amp; Roll\""),
              std::string::npos) << form;
    EXPECT_NE(form.find("<tr><td>M\xC3\xBAsica Latina</td>"), std::string::npos);

    site.Write("index.txt", "<ul>\r\n<insert songlist>\r\n</ul>\r\n");
    const TAnswer answer =
        Serve(site, Post("M%C3%BAsica+Latina=AddGenre&Rock+%26+Roll=AddGenre&numsongs=15&command=playlistgen"));
    EXPECT_NE(answer.Output.find("\r\ncontent-type: text/html; charset=utf-8\r\n"), std::string::npos);
    const std::string body = answer.Body();
    EXPECT_EQ(Occurrences(body, "<li>"), 3) << body;
    // The site folder here is no "audiojs": the links hold its whole path.
    for (const char* item : {
             "\\M\xC3\xBAsica Latina\\Canci\xC3\xB3n del Mar.mp3\">(M\xC3\xBAsica Latina) "
             "Canci\xC3\xB3n del Mar</a>",
             "\\Rock &amp; Roll\\Say &quot;Hi&quot;.mp3\">(Rock &amp; Roll) Say &quot;Hi&quot;</a>",
             "\\Rock &amp; Roll\\50% Off?.mp3\">(Rock &amp; Roll) 50% Off?</a>"})
        EXPECT_NE(body.find(item), std::string::npos) << item << "\n" << body;
}
