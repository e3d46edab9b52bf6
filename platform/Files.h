#pragma once
// Files and folders under Windows-form paths. "\" and "/" are accepted
// alike; "\" becomes "/" at the OS boundary, so a Linux name that holds a
// backslash cannot be reached. Failures are reported by result, never thrown.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DateTime.h"

std::string ToOsPath(std::string_view path);       // "\" -> "/"
std::string ToWindowsPath(std::string_view path);  // "/" -> "\"

[[nodiscard]] bool FileExists(const std::string& path);       // a file, not a folder
[[nodiscard]] bool DirectoryExists(const std::string& path);
bool CreateDir(const std::string& path);
bool RemoveDir(const std::string& path);
bool DeleteFile(const std::string& path);
// Replaces an existing target, as the program's renames expect.
bool RenameFile(const std::string& oldPath, const std::string& newPath);
std::int64_t FileSizeOf(const std::string& path);  // -1 when absent
// Modification time, local, to the microsecond; setting it leaves the
// access time alone.
bool FileGetDateTime(const std::string& path, TDateTime& modified);
bool FileSetDateTime(const std::string& path, TDateTime modified);

// Whole-file helpers. WriteWholeFile creates or truncates; WriteFileAtomic
// writes a temporary file in the same folder (a hidden name, removed on
// failure; the target's permissions kept) and renames it over the target,
// so no reader ever sees it half-written; a target without write permission
// is refused, as writing it in place would be. AppendToFile creates the file
// when missing and adds data in one write on an O_APPEND descriptor, so
// concurrent writers interleave whole lines; data that does not fit whole (a
// full disk) is cut off again, unless another writer has appended behind it.
[[nodiscard]] bool ReadWholeFile(const std::string& path, std::string& content);
// The name a replacement of path is written under: hidden, in path's folder
// (either separator), unique for this process (pid) and within it (a
// counter), ending in suffix; so concurrent writers never share one.
std::string TemporaryNameFor(const std::string& path, std::string_view suffix);
[[nodiscard]] bool WriteWholeFile(const std::string& path, std::string_view content);
[[nodiscard]] bool WriteFileAtomic(const std::string& path, std::string_view content);
[[nodiscard]] bool AppendToFile(const std::string& path, std::string_view content);
// AppendToFile for a log of bounded size: when the file holds something and
// the content would take it past limit bytes, the file is first renamed to
// its previous generation (PreviousGenerationName, replacing an older one)
// and a new file is started. Appenders in other processes are serialised
// by a lock on the file.
[[nodiscard]] bool AppendBounded(const std::string& path, std::string_view content, std::uint64_t limit);
std::string PreviousGenerationName(const std::string& path);  // path + ".1"
// Writes all of content to the descriptor, retrying short writes; done
// tells how much reached it, also on failure.
[[nodiscard]] bool WriteFully(int fd, std::string_view content, std::size_t& done);
// Appends all of content to a descriptor opened for appending; a start that
// went in while the rest did not fit (a full disk, a size limit) is cut off
// again, so the file never ends in a torn line. False when it did not fit.
[[nodiscard]] bool AppendWhole(int fd, std::string_view content);
// The bound of the diagnostic trace and of the gateway log.
constexpr std::uint64_t LogFileLimit = 10 * 1024 * 1024;

// Handles. Share modes of the host map to plain opens.
using THandle = int;
constexpr THandle INVALID_HANDLE_VALUE = -1;
constexpr int fmOpenRead = 0x0000;
constexpr int fmOpenWrite = 0x0001;
constexpr int fmOpenReadWrite = 0x0002;
constexpr int fmShareDenyNone = 0x0040;
THandle FileCreate(const std::string& path);  // create or truncate, read-write
THandle FileOpen(const std::string& path, int mode);
int FileRead(THandle handle, void* buffer, int count);   // bytes read, -1 on error
int FileWrite(THandle handle, const void* buffer, int count);
std::int64_t FileSeek(THandle handle, std::int64_t offset, int origin);  // 0 begin, 1 current, 2 end
void FileClose(THandle handle);

// Wildcard listings: "*" and "?" in the last component, matched ignoring
// case; "*.*" matches every name; a pattern without a folder part lists the
// current folder. Entries come sorted by name as NTFS returns them (names
// compared upper-cased, byte by byte), "." and ".." included. Plain files
// always match, read-only and archive ones too; folders (faDirectory),
// hidden entries (faHidden: the name begins with ".", except "." and "..")
// and system files only when their bit is in the attribute mask, as the host
// does. Attributes reported: faDirectory, faHidden, faReadOnly (the owner
// has no write permission) and faArchive for every entry that is not a
// folder. A folder's Size is 0.
constexpr int faReadOnly = 0x01;
constexpr int faHidden = 0x02;
constexpr int faSysFile = 0x04;
constexpr int faVolumeID = 0x08;
constexpr int faDirectory = 0x10;
constexpr int faArchive = 0x20;
constexpr int faAnyFile = 0x3F;

constexpr int ERROR_FILE_NOT_FOUND = 2;
constexpr int ERROR_PATH_NOT_FOUND = 3;
constexpr int ERROR_ACCESS_DENIED = 5;
constexpr int ERROR_NO_MORE_FILES = 18;

struct TSearchListing;
struct TSearchRec {
    TDateTime Time = 0;      // modification time, local, millisecond precision or better
    std::int64_t Size = 0;
    int Attr = 0;
    std::string Name;        // bare name
    int ExcludeAttr = 0;
    // The rest of the listing; shared, so a copied record stays valid, and
    // released by FindClose (or with the last copy).
    std::shared_ptr<TSearchListing> Listing;
};
// 0 when an entry was found, else ERROR_FILE_NOT_FOUND (the folder exists,
// nothing matches), ERROR_PATH_NOT_FOUND (no such folder), ERROR_ACCESS_DENIED
// (the folder cannot be read) or, from FindNext, ERROR_NO_MORE_FILES.
[[nodiscard]] int FindFirst(const std::string& pattern, int attributes, TSearchRec& rec);
[[nodiscard]] int FindNext(TSearchRec& rec);
void FindClose(TSearchRec& rec);

// True when name matches the wildcard pattern ignoring case ("*", "?";
// "*.*" matches everything).
bool MatchesMask(std::string_view name, std::string_view pattern);
// A search pattern in OS form split at its last "/": the folder ("." when it
// names none) and the mask the folder's names are matched against.
struct TSearchPattern {
    std::string Folder;
    std::string Mask;
};
TSearchPattern SplitSearchPattern(const std::string& osPattern);

// The names a wildcard listing of any attributes gives (FindFirst with
// faAnyFile), in the same order, each with whether it is a folder; "." and
// ".." included, empty when the folder cannot be read. For large folders:
// an entry is looked up with stat only when the directory does not tell its
// type (a link counts as what it points to), and no time or size is read.
struct TDirectoryName {
    std::string Name;
    bool IsDirectory = false;
};
std::vector<TDirectoryName> ListDirectoryNames(const std::string& pattern);
