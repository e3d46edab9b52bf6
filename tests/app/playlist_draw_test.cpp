// The random draw: the generator's sequence, the rotation over the chosen
// genres, the stop rules, and that the grouped pool gives the playlist a
// plain scan of the whole song list gives.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/Playlist.h"
#include "app/SongPool.h"
#include "platform/Random.h"

namespace {
std::string Entry(const std::string& genre, int song) {
    return genre + "|<li>(" + genre + ") song" + std::to_string(song) + "</li>";
}

TSongPool PoolOf(const std::vector<std::string>& entries) { return TSongPool(entries); }

std::vector<std::string> Songs(const std::string& genre, int count) {
    std::vector<std::string> entries;
    for (int i = 0; i < count; ++i) entries.push_back(Entry(genre, i));
    return entries;
}

std::string GenreOfItem(const std::string& item) {
    const auto open = item.find('(');
    return item.substr(open + 1, item.find(')') - open - 1);
}

// The draw over one flat song list, rescanned for every pick: the oracle the
// grouped pool must match draw for draw.
TDrawResult FlatDraw(const std::vector<std::string>& genres, int count, std::vector<std::string> songlist) {
    TDrawResult draw;
    std::size_t i = NextRandom(static_cast<std::uint32_t>(genres.size()));
    for (;;) {
        std::vector<std::string> candidates;
        for (const auto& entry : songlist)
            if (entry.substr(0, entry.find('|')) == genres[i]) candidates.push_back(entry);
        if (!songlist.empty() && !candidates.empty()) {
            const std::string chosen = candidates[NextRandom(static_cast<std::uint32_t>(candidates.size()))];
            songlist.erase(std::next(std::find(songlist.rbegin(), songlist.rend(), chosen)).base());
            draw.Playlist.push_back(chosen.substr(chosen.find('|') + 1));
        }
        i = (i + 1) % genres.size();
        ++draw.Passes;
        if (static_cast<int>(draw.Playlist.size()) >= count || songlist.empty() || draw.Passes > 1000) break;
    }
    return draw;
}
}  // namespace

TEST(NextRandom, KnownSequences) {
    struct Case { std::uint32_t seed; std::vector<std::uint32_t> want; };
    const Case cases[] = {{0, {0, 3, 86, 20, 27}}, {36903250, {74, 12, 1, 95, 44}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seed);
        RandomState = c.seed;
        std::vector<std::uint32_t> got;
        for (int i = 0; i < 5; ++i) got.push_back(NextRandom(100));
        EXPECT_EQ(got, c.want);
    }
    RandomState = 0xFFFFFFFFu;
    for (int i = 0; i < 1000; ++i) ASSERT_LT(NextRandom(7), 7u);
}

TEST(DrawPlaylist, RotatesThroughGenresFromARandomStart) {
    const std::vector<std::string> genres = {"Cha Cha", "Rumba", "Tango"};
    std::vector<std::string> all;
    for (const auto& g : genres) {
        const auto songs = Songs(g, 20);
        all.insert(all.end(), songs.begin(), songs.end());
    }
    for (std::uint32_t seed : {0u, 1u, 36903250u}) {
        SCOPED_TRACE(seed);
        RandomState = seed;
        TSongPool pool = PoolOf(all);
        const TDrawResult draw = DrawPlaylist(genres, 25, pool);
        ASSERT_EQ(draw.Playlist.size(), 25u);
        EXPECT_EQ(draw.Passes, 25);
        EXPECT_EQ(pool.Count(), 35);
        RandomState = seed;
        const std::size_t start = NextRandom(3);
        for (std::size_t k = 0; k < draw.Playlist.size(); ++k)
            EXPECT_EQ(GenreOfItem(draw.Playlist[k]), genres[(start + k) % 3]) << k;
    }
}

TEST(DrawPlaylist, ExhaustedGenreLeavesTheRestToOthers) {
    std::vector<std::string> all = Songs("Small", 3);
    const auto large = Songs("Large", 100);
    all.insert(all.end(), large.begin(), large.end());
    RandomState = 5;
    TSongPool pool = PoolOf(all);
    const TDrawResult draw = DrawPlaylist({"Large", "Small"}, 15, pool);
    ASSERT_EQ(draw.Playlist.size(), 15u);
    const auto small = std::count_if(draw.Playlist.begin(), draw.Playlist.end(),
                                     [](const std::string& item) { return GenreOfItem(item) == "Small"; });
    EXPECT_EQ(small, 3);
    EXPECT_EQ(pool.Count(), 88);
    std::vector<std::string> unique = draw.Playlist;
    std::sort(unique.begin(), unique.end());
    EXPECT_EQ(std::unique(unique.begin(), unique.end()), unique.end()) << "a song was drawn twice";
}

TEST(DrawPlaylist, StopRules) {
    struct Case { const char* name; std::vector<std::string> genres; std::vector<std::string> songs; int count;
                  std::size_t items; int passes; };
    const Case cases[] = {
        {"no songs at all: one pass", {"A", "B"}, {}, 25, 0, 1},
        {"count 0: one pass, one song", {"A"}, Songs("A", 5), 0, 1, 1},
        {"count below zero behaves as 0", {"A"}, Songs("A", 5), -3, 1, 1},
        {"songs run out before the count", {"A", "B"}, Songs("A", 4), 25, 4, 7},
        // Songs filed under a head no chosen genre has: the pass bound ends it.
        {"songs no turn can reach", {"A"}, {"a|<li>x</li>"}, 25, 0, 1001},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RandomState = 0;
        TSongPool pool = PoolOf(c.songs);
        const TDrawResult draw = DrawPlaylist(c.genres, c.count, pool);
        EXPECT_EQ(draw.Playlist.size(), c.items);
        EXPECT_EQ(draw.Passes, c.passes);
    }
}

// Equal entries (a genre chosen twice lists its songs twice) and genre names
// holding "|" (their songs file under the text before it) must not change
// which songs are drawn.
TEST(DrawPlaylist, SameAsAFullRescanOfTheSongList) {
    std::vector<std::string> all;
    for (const auto& part : {Songs("A", 7), Songs("B", 2), Songs("A", 7), Songs("a|b", 3), Songs("C", 40)})
        all.insert(all.end(), part.begin(), part.end());
    const std::vector<std::vector<std::string>> rotations = {{"A", "B", "A", "a|b", "C"}, {"C", "a", "B"}, {"A"}};
    for (const auto& genres : rotations) {
        for (std::uint32_t seed = 0; seed < 200; seed += 7) {
            for (int count : {1, 15, 75}) {
                SCOPED_TRACE(testing::Message() << genres.size() << " genres, seed " << seed << ", count " << count);
                RandomState = seed;
                const TDrawResult want = FlatDraw(genres, count, all);
                RandomState = seed;
                TSongPool pool = PoolOf(all);
                const TDrawResult got = DrawPlaylist(genres, count, pool);
                ASSERT_EQ(got.Playlist, want.Playlist);
                ASSERT_EQ(got.Passes, want.Passes);
            }
        }
    }
}

TEST(PickSong, RemovesTheDrawnSongAndDrawsNothingWhenNoneLeft) {
    TSongPool pool = PoolOf({"A|one", "B|two"});
    RandomState = 0;
    EXPECT_EQ(PickSong("A", pool), "one");
    EXPECT_EQ(pool.Count(), 1);
    const std::uint32_t before = RandomState;
    EXPECT_EQ(PickSong("A", pool), "");
    EXPECT_EQ(PickSong("Z", pool), "");
    EXPECT_EQ(RandomState, before) << "an empty genre must not consume a draw";
    EXPECT_EQ(PickSong("B", pool), "two");
    EXPECT_EQ(pool.Count(), 0);
}
