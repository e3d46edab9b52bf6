// A playlist request's posted fields: the genres chosen, the song count and
// the genre folder a posted name selects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/PlaylistFields.h"

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
