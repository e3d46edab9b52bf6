// The index run that lists again only what changed: after every kind of
// change its files, pages, trace and answer equal those of a run without a
// cache; files whose content stays are not written; the playlist draws the
// same from cached listings; the trace stays within its bound.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <thread>

#include "app/IndexCache.h"
#include "app/MusicIndex.h"
#include "app/OnlineUnit.h"
#include "app/Options.h"
#include "app/Playlist.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/Random.h"
#include "tests/app/music_test_request.h"
#include "tests/app/music_test_site.h"
#include "tests/support/Children.h"

namespace fs = std::filesystem;

namespace {
const char* const Template = "<html>\r\nBREAKGENRE\r\n<ul>\r\nBREAKMUSIC\r\n</ul>\r\n</html>\r\n";

// Everything a run leaves: the three files, every page in the site's genre
// folders, the trace and the answer (the report's time left out).
struct TOutcome {
    std::map<std::string, std::string> Files;
    std::vector<std::string> Answer;
    bool operator==(const TOutcome&) const = default;
};

// A listing is trusted only when its folder last changed 2 s before it was
// taken (a folder's change time cannot be set back).
void LetTheTreeSettle() { std::this_thread::sleep_for(std::chrono::milliseconds(2100)); }

// A site with five genres (one without its page folder, one dotted) and the
// trace on.
class TIndexTree {
public:
    TIndexTree() {
        Options = TOptionsRecord{};
        Options.diagnostics = 1;
        site.AddGenre("Cha Cha", {"c1.mp3", "c2.mp3"});
        site.AddGenre("Rumba", {"r1.mp3", "r2.mp3", "r3.mp3"});
        site.AddGenre("Tango", {"t1.mp3"});
        site.AddGenre("Rock.n.Roll", {"x.mp3"});
        site.AddGenre("Lost", {"l.mp3"}, /*withPage=*/false);
        site.Write("index.txt", Template);
    }
    ~TIndexTree() {
        std::error_code ignored;
        fs::permissions(Program("Rumba"), fs::perms::owner_all, ignored);
        Options = TOptionsRecord{};
    }
    // Points the process at this site's program again.
    void Activate() const {
        support::SetCommandLine({Program("playlist.cgi")});
    }

    std::string Program(const std::string& relative) const { return site.ProgramFolderOs() + "/" + relative; }
    std::string Site(const std::string& relative) const { return site.SiteFolderOs() + "/" + relative; }

    // One run after the trace was emptied.
    TOutcome Index(TIndexScan scan = TIndexScan::Changed) const {
        Activate();
        std::error_code ignored;
        fs::remove(Program("Tunewright.tst"), ignored);
        const TPage page = RunRequest({}, {}, [scan] { RunMusicIndex(scan); });
        EXPECT_EQ(page.Error, "");
        TOutcome outcome;
        for (const char* name : {"folders.txt", "MP3filelist.txt", "MusicIndex.txt", "Tunewright.tst"})
            outcome.Files[name] = site.Read(name);
        for (const auto& entry : fs::directory_iterator(site.SiteFolderOs()))
            if (fs::exists(entry.path() / "index.html"))
                outcome.Files[entry.path().filename().string()] = site.ReadSite(entry.path().filename().string() + "/index.html");
        outcome.Answer = page.Lines;
        for (auto& line : outcome.Answer)
            if (line.rfind("Index Built ", 0) == 0) line = "Index Built";
        return outcome;
    }
    // What a run without a cache gives for the tree as it is now.
    TOutcome Rebuilt() const {
        std::error_code ignored;
        fs::remove(Program("playlist.cache"), ignored);
        return Index();
    }
    // Identity and times of every file the run may write.
    std::map<std::string, TFileStamp> Stamps() const {
        std::map<std::string, TFileStamp> stamps;
        for (const char* name : {"folders.txt", "MP3filelist.txt", "MusicIndex.txt", "playlist.cache"})
            stamps[name] = StampOf(Program(name));
        for (const char* genre : {"Cha Cha", "Rumba", "Tango"}) stamps[genre] = StampOf(Site(std::string(genre) + "/index.html"));
        return stamps;
    }
    void Corrupt(const std::function<void(std::string&)>& change) const {
        std::string cache = site.Read("playlist.cache");
        ASSERT_FALSE(cache.empty());
        change(cache);
        site.Write("playlist.cache", cache);
    }

    TMusicSite site;
};

class IndexCache : public testing::Test, public TIndexTree {};
}  // namespace

// Each change, made after a cached run, is followed by a run whose outcome
// equals that of a run without a cache on the same tree.
TEST(IndexCacheChanges, EveryKindOfChangeGivesWhatAFullRunGives) {
    struct TCase {
        const char* name;
        bool settled;  // false: the listings are cached within 2 s of their folders' last change
        std::function<void(TIndexTree&)> change;
    };
    const std::vector<TCase> cases = {
        {"song added", true, [](TIndexTree& t) { t.site.Write("Rumba/r0.mp3", ""); }},
        {"song removed", true, [](TIndexTree& t) { fs::remove(t.Program("Rumba/r2.mp3")); }},
        {"song renamed", true, [](TIndexTree& t) { fs::rename(t.Program("Tango/t1.mp3"), t.Program("Tango/t9.mp3")); }},
        {"song in the folder a dotted name is scanned as", true,
         [](TIndexTree& t) { t.site.AddGenre("Rock.n", {"n.mp3"}, false); }},
        {"genre added", true, [](TIndexTree& t) { t.site.AddGenre("Bolero", {"b1.mp3", "b2.mp3"}); }},
        {"genre removed", true, [](TIndexTree& t) { fs::remove_all(t.Program("Cha Cha")); }},
        {"genre renamed", true,
         [](TIndexTree& t) {
             fs::rename(t.Program("Tango"), t.Program("Foxtrot"));
             fs::create_directory(t.Site("Foxtrot"));
         }},
        {"page folder made", true, [](TIndexTree& t) { fs::create_directory(t.Site("Lost")); }},
        {"template edited", true, [](TIndexTree& t) { t.site.Write("index.txt", "<body>\r\nBREAKMUSIC\r\nBREAKGENRE\r\n"); }},
        {"template removed", true, [](TIndexTree& t) { fs::remove(t.Program("index.txt")); }},
        {"page deleted", true, [](TIndexTree& t) { fs::remove(t.Site("Rumba/index.html")); }},
        {"page edited by hand", true,
         [](TIndexTree& t) { std::ofstream(t.Site("Tango/index.html"), std::ios::binary | std::ios::in) << "X"; }},
        {"index file edited", true, [](TIndexTree& t) { t.site.Write("MusicIndex.txt", "mine\r\n"); }},
        {"cache damaged", true, [](TIndexTree& t) { t.Corrupt([](std::string& c) { c[c.size() / 2] ^= 0x20; }); }},
        {"cache names damaged", true,
         [](TIndexTree& t) {
             t.site.Write("Rumba/r0.mp3", "");
             t.Corrupt([](std::string& c) { c[c.size() - 3] ^= 0x01; });
         }},
        {"cache truncated", true, [](TIndexTree& t) { t.Corrupt([](std::string& c) { c.resize(c.size() - 9); }); }},
        {"cache unreadable", true,
         [](TIndexTree& t) {
             fs::remove(t.Program("playlist.cache"));
             fs::create_symlink("playlist.cache", t.Program("playlist.cache"));
         }},
        {"cache replaced by a pipe", true,
         [](TIndexTree& t) {
             fs::remove(t.Program("playlist.cache"));
             ASSERT_EQ(mkfifo(t.Program("playlist.cache").c_str(), 0600), 0);
         }},
        {"change in the second of the cached listing", false, [](TIndexTree& t) { t.site.Write("Rumba/r0.mp3", ""); }},
        {"folder made unreadable", true, [](TIndexTree& t) { fs::permissions(t.Program("Rumba"), fs::perms::none); }},
    };
    std::vector<std::unique_ptr<TIndexTree>> trees(cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i)
        if (cases[i].settled) trees[i] = std::make_unique<TIndexTree>();
    LetTheTreeSettle();
    for (std::size_t i = 0; i < cases.size(); ++i)
        if (!cases[i].settled) trees[i] = std::make_unique<TIndexTree>();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.name);
        TIndexTree& tree = *trees[i];
        tree.Index();
        c.change(tree);
        const TOutcome changed = tree.Index();
        const TOutcome rebuilt = tree.Rebuilt();
        EXPECT_EQ(changed.Files, rebuilt.Files);
        EXPECT_EQ(changed.Answer, rebuilt.Answer);
    }
}

// A foreign cache: a sound file made by another installation of the program.
TEST_F(IndexCache, CacheOfAnotherInstallationIsNotUsed) {
    std::string foreign;
    {
        TMusicSite other;
        other.AddGenre("Rumba", {"elsewhere.mp3"});
        RunRequest({}, {}, [] { RunMusicIndex(TIndexScan::Changed); });
        foreign = other.Read("playlist.cache");
    }
    Index();
    site.Write("playlist.cache", foreign);
    EXPECT_EQ(Index(), Rebuilt());
}

// A run on an unchanged tree writes nothing; a song added rewrites only the
// files whose content changes: its genre's page and two index files.
TEST_F(IndexCache, FilesAreWrittenOnlyWhenTheirContentChanges) {
    LetTheTreeSettle();
    Index();
    const auto before = Stamps();
    const TOutcome again = Index();
    EXPECT_EQ(Stamps(), before);
    EXPECT_EQ(again, Rebuilt());

    const auto settled = Stamps();
    site.Write("Rumba/r4.mp3", "");
    Index();
    const auto after = Stamps();
    for (const char* same : {"folders.txt", "Cha Cha", "Tango"}) EXPECT_EQ(after.at(same), settled.at(same)) << same;
    for (const char* rewritten : {"MP3filelist.txt", "MusicIndex.txt", "Rumba", "playlist.cache"})
        EXPECT_NE(after.at(rewritten), settled.at(rewritten)) << rewritten;

    // The full rescan lists everything again and still rewrites nothing.
    const auto current = Stamps();
    const TOutcome full = Index(TIndexScan::Full);
    auto fullStamps = Stamps();
    fullStamps.erase("playlist.cache");
    auto currentStamps = current;
    currentStamps.erase("playlist.cache");
    EXPECT_EQ(fullStamps, currentStamps);
    EXPECT_EQ(full, Rebuilt());
}

TEST(IndexCacheTrust, ListingHoldsOnlyForTheSameStampOlderThanTwoSeconds) {
    const std::int64_t second = 1'000'000'000;
    TFileStamp stamp{true, 1, 2, 3, 100 * second, 100 * second};
    TFileStamp touched = stamp;
    touched.Changed += 1;
    const TFileStamp missing;
    EXPECT_TRUE(ListingStillHolds(stamp, 102 * second, stamp));
    EXPECT_FALSE(ListingStillHolds(stamp, 102 * second - 1, stamp));
    EXPECT_FALSE(ListingStillHolds(stamp, 200 * second, touched));
    EXPECT_TRUE(ListingStillHolds(missing, 0, missing));
    EXPECT_FALSE(ListingStillHolds(missing, 200 * second, stamp));
}

// The playlist takes a genre's songs from the cache while its folder is
// unchanged and lists the folder when it changed; the same seed draws the
// same songs either way.
TEST_F(IndexCache, PlaylistDrawsTheSameFromCachedListings) {
    site.AddGenre("Waltz", {"w1.mp3", "w2.mp3", "w3.mp3", "w4.mp3"});
    LetTheTreeSettle();
    Index();
    auto post = [] {
        RandomState = 36903250;
        return RunRequest({"command=playlistgen", "Rumba=AddGenre", "Waltz=AddGenre", "numsongs=15"}, {},
                          [] { GeneratePlaylist(); }).Lines;
    };
    const auto cached = post();
    const std::string cache = site.Read("playlist.cache");
    fs::remove(Program("playlist.cache"));
    EXPECT_EQ(post(), cached);

    site.Write("playlist.cache", cache);
    site.Write("Waltz/w5.mp3", "");
    const auto changed = post();
    fs::remove(Program("playlist.cache"));
    EXPECT_EQ(changed, post());
    EXPECT_NE(site.Read("Songlist.txt").find("w5"), std::string::npos);
}

// A trace at its bound is moved aside before the next line.
TEST_F(IndexCache, TraceAtItsBoundStartsAnewGeneration) {
    const std::string trace = Program("Tunewright.tst");
    std::ofstream(trace, std::ios::binary) << "first\r\n";
    fs::resize_file(trace, LogFileLimit - 4);
    WriteTrace("ab");
    EXPECT_EQ(fs::file_size(trace), LogFileLimit);
    WriteTrace("next");
    EXPECT_EQ(site.Read("Tunewright.tst"), "next\r\n");
    EXPECT_EQ(fs::file_size(trace + ".1"), LogFileLimit);
}
