#pragma once
// The music collection: the index builder's folder and song scans, the
// genre pages it writes, and the random playlist draw.
#include <string>

class TStringList;

// Appends folder (with a trailing "\") + name for every subfolder of folder
// matching pattern, "." and ".." left out; a listing error ends the listing
// quietly with what was collected.
void ListSubfolders(const std::string& folder, const std::string& pattern, TStringList& list);
// Appends folder + name for every "*.mp3" entry of folder (which ends in "\").
void ListMp3Files(const std::string& folder, TStringList& list);
// Writes the static page of one genre from the template "index.txt".
void BuildGenrePage(const std::string& genre, const TStringList& items);
// Writes the fixed style and viewport block of the playlist-builder pages.
void WriteStyleBlock();
