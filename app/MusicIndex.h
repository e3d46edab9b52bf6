#pragma once
// The music index builder: the index files and the static genre pages.
#include <string>
#include <vector>

// The index run: Changed lists again only the folders that changed since the
// last run; Full lists every folder again. Either writes only the files
// whose content differs and refreshes the cache.
enum class TIndexScan { Changed, Full };
// The whole index run: index files, genre pages and the report block. Without
// a creatable "MusicIndex.txt" nothing is touched and nothing is written.
void RunMusicIndex(TIndexScan scan);
// The run before every genre page: only what changed.
void RunMusicIndex();
// Writes the static page of one genre from the template "index.txt".
void BuildGenrePage(const std::string& genre, const std::vector<std::string>& items);
