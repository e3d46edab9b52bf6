#pragma once
// The text pieces of the music pages: list items, player paths and template
// expansion. Pure functions, so tests and the fuzz targets reach them
// without files or an engine.
#include <string>
#include <vector>

// The path the page's player fetches, relative to the folder above the site's
// "audiojs" folder: from the first "\audiojs" (found ignoring case) on, at
// most 500 characters, "/" turned into "\"; the full path when there is none.
std::string PlayerPath(const std::string& songPath);
// The player path, and whether the song lies in the site (its path holds
// "\audiojs"), from one look at the path.
struct TSongLink {
    bool InSite = false;
    std::string PlayerPath;
};
TSongLink SongLinkOf(const std::string& songPath);
// The file name without its extension.
std::string SongTitle(const std::string& songPath);
// "<li>" item whose link is ".." + player path and whose text is label, both
// HTML-escaped.
std::string ListItem(const std::string& playerPath, const std::string& label);
// "<li>" item of the music index and the genre pages (no genre prefix).
std::string IndexListItem(const std::string& songPath);
// "<li>" item of a drawn playlist: the title carries "(genre) " before it.
std::string PlaylistListItem(const std::string& genre, const std::string& songPath);
// The genre a player path names: what follows "\audiojs\" up to the next "\".
std::string GenreOfPlayerPath(const std::string& playerPath);
// Where a genre's static page goes: beside "audiojs" in the site folder.
std::string GenrePagePath(const std::string& programFolder, const std::string& genre);

// Template lines for a genre page: a line starting with "BREAKGENRE" becomes
// the genre heading (the name HTML-escaped), one starting with "BREAKMUSIC"
// becomes every item, one per line; the rest of a marker line is dropped,
// other lines are copied.
std::vector<std::string> ExpandGenreTemplate(const std::vector<std::string>& templateLines,
                                             const std::string& genre,
                                             const std::vector<std::string>& items);
// Template lines for the playlist page: each line containing
// "<insert songlist>" anywhere is replaced by the whole playlist.
std::vector<std::string> ExpandPlaylistTemplate(const std::vector<std::string>& templateLines,
                                                const std::vector<std::string>& playlist);
