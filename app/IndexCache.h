#pragma once
// What the music index builder keeps between runs, in a private file beside
// the program: the genre folder list, each genre folder's song names with the
// folder's times when they were listed, and what the last run wrote (the
// index files and genre pages with their file times), so that a run on an
// unchanged collection lists no genre folder and writes no file.
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileStamps.h"
#include "platform/StringList.h"

// How long before a listing its folder must have last changed for the
// listing to be trusted, in nanoseconds: a file system with coarse times may
// record a later change in the same second under the same time.
inline constexpr std::int64_t ListingTrustMargin = 2'000'000'000;
// A listing taken at takenAt, when the folder's stamp was then, still holds
// when the folder's stamp is unchanged and its last change lies at least
// ListingTrustMargin before takenAt.
bool ListingStillHolds(const TFileStamp& then, std::int64_t takenAt, const TFileStamp& now);

// A 64-bit hash, stable for one build of the program.
std::uint64_t HashText(std::string_view text, std::uint64_t seed = 0);

struct TCachedFolder {
    std::string Name;  // the folder's name below the program folder
    TFileStamp Stamp;
    std::int64_t TakenAt = 0;
    std::vector<std::string> Files;  // bare song names, in listing order
    bool Loaded = false;             // Files read from the cache file
    std::uint64_t Offset = 0, Length = 0, Hash = 0;
};

struct TCachedPage {
    std::string Genre, Path;
    bool Built = false;  // the page could be created, as its trace line tells
    std::uint64_t ItemsHash = 0;
    TFileStamp Page, Folder;
};

// The cache file's content. Load reads the part that names folders and
// files; the song names of a folder are read on demand.
class TIndexCache {
public:
    TIndexCache() = default;
    ~TIndexCache();
    TIndexCache(const TIndexCache&) = delete;
    TIndexCache& operator=(const TIndexCache&) = delete;

    // False, and nothing kept, for a missing, unreadable, damaged or
    // truncated file and for the cache of another installation.
    bool Load(const std::string& path, const std::string& exeFolder, const std::string& programFolder);
    // The song names of folder; false when its part of the file is damaged.
    bool LoadFiles(TCachedFolder& folder) const;
    TCachedFolder* Find(const std::string& name);
    // Every folder's names must be loaded.
    std::string Encode() const;

    std::string ExeFolder, ProgramFolder;
    std::vector<std::string> Folders;  // the lines of folders.txt
    TFileStamp ProgramStamp;
    std::int64_t ProgramTakenAt = 0;
    std::vector<TCachedFolder> Listings;  // one per scanned name
    bool TemplateExists = false;
    std::uint64_t TemplateHash = 0;
    TFileStamp FoldersFile, SongsFile, IndexFile;
    std::vector<TCachedPage> Pages;  // one per page build, in build order

private:
    void Clear();
    THandle handle_ = INVALID_HANDLE_VALUE;
    std::uint64_t blocks_ = 0;  // where the song names start
    std::map<std::string, std::size_t, std::less<>> byName_;
};

// Beside the options file: the base name + ".cache".
std::string IndexCacheFileName();

// The song files of the program folder's genre folders for the playlist:
// a folder's cached names while they still hold, else a fresh listing.
class TGenreListings {
public:
    // Appends folder + name for each song of genre, as ListMp3Files does.
    void Append(const std::string& genre, TStringList& list);

private:
    TIndexCache cache_;
    int state_ = 0;  // 0 not tried, 1 loaded, -1 none
};
