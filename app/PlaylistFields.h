#pragma once
// How a playlist request's posted fields are read: the genres chosen, the
// song count, and the genre folder a posted name selects.
#include <cstdint>
#include <string>
#include <vector>

// What a playlist request asks for, read from the sorted field entries.
struct TPlaylistRequest {
    std::vector<std::string> Genres;  // in field order
    std::int32_t SongCount = 25;
};
// The song count that an entry holding "numsongs=" gives: the up to three
// characters after it as a decimal number, 25 when they do not convert.
std::int32_t SongCountOfEntry(const std::string& entry);
TPlaylistRequest ScanPlaylistFields(const std::vector<std::string>& entries);
// The genre folder a posted genre name selects: one of listed (the program
// folder's subfolders), matched as sent or URL-decoded; empty for any other
// name, so a posted path never reaches the file system.
std::string GenreFolderFor(const std::string& posted, const std::vector<std::string>& listed);
