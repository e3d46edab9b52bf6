#pragma once
// The random playlist: the draw and the pages that show it.
#include <cstdint>
#include <string>
#include <vector>

#include "app/SongPool.h"

// Draws songs from pool, one genre per turn from a random starting genre,
// until count songs are drawn, the pool is empty or 1001 turns have passed.
struct TDrawResult {
    std::vector<std::string> Playlist;
    int Passes = 0;
};
TDrawResult DrawPlaylist(const std::vector<std::string>& genres, std::int32_t count, TSongPool& pool);
// The page for a playlist request that names no genre.
void WriteNoGenrePage();
// Writes the playlist page: the template with the playlist at its markers.
void WritePlaylistPage(const std::vector<std::string>& playlist);
// The playlist last drawn, from "RandomPlaylist.txt"; nothing without it.
void WriteStoredPlaylistPage();
// The whole playlist request: read the posted fields, draw, store, answer.
void GeneratePlaylist();
