#pragma once
// The music collection on disk: folder and song listings, and files that
// replace their target only when complete.
#include <string>
#include <string_view>
#include <vector>

#include "platform/StringList.h"

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
