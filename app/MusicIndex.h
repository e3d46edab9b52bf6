#pragma once
// The music index builder: the index files and the static genre pages.
#include <string>
#include <vector>

// The whole index run: index files, genre pages and the report block. Without
// a creatable "MusicIndex.txt" nothing is touched and nothing is written.
void RunMusicIndex();
// Writes the static page of one genre from the template "index.txt".
void BuildGenrePage(const std::string& genre, const std::vector<std::string>& items);
