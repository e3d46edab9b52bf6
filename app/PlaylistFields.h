#pragma once
// How a playlist request's posted fields are read: the genres chosen, the
// song count, and the genre folder a posted name selects.
#include <cstdint>
#include <string>
#include <vector>

// One posted field: its name as sent (the field list keeps names as they
// arrived) and its value.
struct TPostedField {
    std::string Name;
    std::string Value;
};
// The field list's "Name=Value" entries as pairs, in list order, split at the
// first "="; an entry without one is no field.
std::vector<TPostedField> PostedFields(const std::vector<std::string>& entries);

// A chosen genre: the name as sent and URL-decoded, decoded once, here.
struct TPostedGenre {
    std::string Sent;
    std::string Decoded;
};
TPostedGenre PostedGenre(std::string sent);

// What a playlist request asks for.
struct TPlaylistRequest {
    std::vector<TPostedGenre> Genres;  // in field order
    std::int32_t SongCount = 25;
};
// The song count that an entry holding "numsongs=" gives: the up to three
// characters after it as a decimal number, 25 when they do not convert.
std::int32_t SongCountOfEntry(const std::string& entry);
TPlaylistRequest ScanPlaylistFields(const std::vector<TPostedField>& fields);
// The genre folder a posted genre selects: one of listed (the program
// folder's subfolders), matched as sent or decoded; empty for any other name,
// so a posted path never reaches the file system.
std::string GenreFolderFor(const TPostedGenre& genre, const std::vector<std::string>& listed);
