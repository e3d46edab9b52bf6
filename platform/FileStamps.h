#pragma once
// Identity and times of files and folders, for work that is redone only when
// what it read has changed; and the whole-file helpers of files that are
// replaced only when their content changes.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Files.h"

// A file's or folder's identity, size and times as the file system reports
// them; two stamps are equal only when nothing was written, renamed over or
// re-permitted between. A missing path has the empty stamp.
struct TFileStamp {
    bool Exists = false;
    std::uint64_t Device = 0, Inode = 0, Size = 0;
    std::int64_t Modified = 0, Changed = 0;  // nanoseconds since the epoch
    bool operator==(const TFileStamp&) const = default;
};
TFileStamp StampOf(const std::string& path);
// Wall-clock nanoseconds since the epoch, the scale of the stamps.
std::int64_t ClockNow();

// False when path cannot be replaced: a folder, a read-only file, or a
// folder that is missing or may not be written.
[[nodiscard]] bool CanReplaceFile(const std::string& path);
// Writes content to a hidden temporary file beside path (.name.pid-n.part)
// and renames it over path, so a reader sees the old file or the new one.
// A private file is readable by its owner only. False, and nothing left
// behind, when path cannot be replaced or the write fails.
[[nodiscard]] bool ReplaceFileContent(const std::string& path, std::string_view content, bool privateFile = false);
// The path is a file holding exactly content.
[[nodiscard]] bool FileHolds(const std::string& path, std::string_view content);

// Opens a regular file for reading; anything else (a folder, a pipe, which
// is not waited on) is refused with INVALID_HANDLE_VALUE.
THandle FileOpenRegular(const std::string& path);
// Reads length bytes from offset; false when fewer are there.
[[nodiscard]] bool FileReadAt(THandle handle, std::string& into, std::uint64_t offset, std::uint64_t length);
