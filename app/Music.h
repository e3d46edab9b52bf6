#pragma once
// The music collection: the folder and song scans, the index files and the
// static genre pages, the genre selection form and the random playlist.
// The text pieces (list items, player paths, template expansion, field
// scanning) are pure functions so that tests and the fuzz target reach them
// without files or an engine.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/StringList.h"

// ---- Text pieces (MusicText.cpp) -------------------------------------------

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

// ---- Listings and replaced files (MusicFiles.cpp) --------------------------

// Appends folder (with a trailing "\") + name for every subfolder of folder
// matching pattern, of any attributes, "." and ".." left out, in listing
// order; a listing error ends the listing quietly with what was collected.
void ListSubfolders(const std::string& folder, const std::string& pattern, TStringList& list);
// Appends folder + name for every entry of folder (which ends in "\")
// matching "*.mp3", of any attributes, in listing order.
void ListMp3Files(const std::string& folder, TStringList& list);
// The bare names of the program folder's subfolders: the genres a posted
// name may select.
std::vector<std::string> GenreFolderNames();

// A file that replaces its target only when complete: the lines go to a
// temporary file in the target's folder, which Commit renames over the
// target, so a reader sees the old file or the new one, never a part.
// Without Commit (an exception passing) the temporary file is removed.
class TReplacementFile {
public:
    explicit TReplacementFile(std::string target);
    ~TReplacementFile();
    TReplacementFile(const TReplacementFile&) = delete;
    TReplacementFile& operator=(const TReplacementFile&) = delete;

    // False when the file cannot be created (missing folder, no permission,
    // the target is a folder).
    [[nodiscard]] bool Create();
    // Raise EFileError when the data cannot be written or the rename fails.
    void WriteLine(std::string_view line);
    void Commit();

private:
    void Flush();
    void Discard();
    std::string target_;
    std::string temporary_;
    std::string pending_;
    int handle_ = -1;
};
// Writes the list to path through a replacement file; raises EFileError
// when it cannot be created or written.
void SaveListReplacing(const std::vector<std::string>& lines, const std::string& path);

// ---- The index builder (MusicIndex.cpp) -------------------------------------

// The whole index run: index files, genre pages and the report block. Without
// a creatable "MusicIndex.txt" nothing is touched and nothing is written.
void RunMusicIndex();
// Writes the static page of one genre from the template "index.txt".
void BuildGenrePage(const std::string& genre, const std::vector<std::string>& items);

// ---- The genre selection form (GenrePage.cpp) -------------------------------

// The index run's report, then the genre selection form.
void WriteGenreSelectionPage();
// Sets the current engine's content type to the pages' HTML type, as every
// page does before it writes.
void StartHtmlPage();
// Writes the fixed style and viewport block of the playlist-builder pages.
void WriteStyleBlock();
// The head of the playlist-builder pages up to the opening body tag.
void WritePlaylistBuilderHead();
// "<tr>" row of the genre form: the genre name, HTML-escaped, as label and as
// radio name.
std::string GenreRow(const std::string& genre);

// ---- The random playlist (Playlist.cpp) ------------------------------------

// The songs of the chosen genres, as entries "genre|item", grouped by the
// text before the first "|". A draw picks the k-th entry still in its group
// in song-list order and removes the last entry equal to it, as a scan of
// the whole song list would; a counting tree over each group's positions
// finds that entry in logarithmic time, so the playlist for a seed is the
// one the full scan gives at a fraction of its cost.
class TSongPool {
public:
    explicit TSongPool(std::vector<std::string> songlist);
    int Count() const { return count_; }
    // Removes one random entry of genre and returns its item; empty, and no
    // draw, when the genre has no entries left.
    std::string PickSong(const std::string& genre);

private:
    struct TGroup {
        std::vector<std::string> Entries;          // in song-list order
        std::vector<int> Tree;                      // 1-based counts of entries still there
        std::vector<int> ValueOf;                   // per entry: its value's index
        std::vector<std::vector<int>> Positions;    // per value: its entries still there, ascending
        int Left = 0;
        void Build();
        int Select(int k) const;                    // position of the k-th entry still there
        void Remove(int position);
    };
    std::map<std::string, TGroup, std::less<>> groups_;
    int count_ = 0;
};
std::string PickSong(const std::string& genre, TSongPool& songlist);

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
