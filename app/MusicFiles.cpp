#include "app/MusicFiles.h"

#include "app/qv_unit.h"
#include "platform/Exception.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/SysUtils.h"

namespace {
constexpr std::size_t FlushSize = 64 * 1024;

bool IsDotEntry(const std::string& name) { return name == "." || name == ".."; }

// An existing file without write permission cannot be created over on the
// host; a rename must not replace it either. The listing matches names
// ignoring case, so the name found must be the target's own.
bool IsReadOnlyFile(const std::string& path) {
    TSearchRec rec;
    bool readOnly = false;
    for (int found = FindFirst(path, faAnyFile, rec); found == 0 && !readOnly; found = FindNext(rec))
        readOnly = rec.Name == FileNameOfPath(path) && (rec.Attr & faReadOnly) != 0;
    FindClose(rec);
    return readOnly;
}
}  // namespace

// The listings take names and the folder bit only, in the order and with the
// matches of a find-first listing of any attributes.
void ListSubfolders(const std::string& folder, const std::string& pattern, TStringList& list) {
    const std::string base = AddTrailingBackslash(folder);
    for (const auto& entry : ListDirectoryNames(base + pattern))
        if (entry.IsDirectory && !IsDotEntry(entry.Name)) list.Add(base + entry.Name);
}

void ListMp3Files(const std::string& folder, TStringList& list) {
    for (const auto& entry : ListDirectoryNames(folder + "*.mp3")) list.Add(folder + entry.Name);
}

std::vector<std::string> GenreFolderNames() {
    std::vector<std::string> names;
    for (const auto& entry : ListDirectoryNames(ProgramFolder() + "*.*"))
        if (entry.IsDirectory && !IsDotEntry(entry.Name)) names.push_back(entry.Name);
    return names;
}

TReplacementFile::TReplacementFile(std::string target)
    : target_(std::move(target)), temporary_(TemporaryNameFor(target_, ".part")) {}

TReplacementFile::~TReplacementFile() { Discard(); }

bool TReplacementFile::Create() {
    if (DirectoryExists(target_) || IsReadOnlyFile(target_)) return false;
    handle_ = FileCreate(temporary_);
    return handle_ != INVALID_HANDLE_VALUE;
}

void TReplacementFile::WriteLine(std::string_view line) {
    pending_.append(line);
    pending_.append("\r\n");
    if (pending_.size() >= FlushSize) Flush();
}

void TReplacementFile::Flush() {
    if (pending_.empty()) return;
    const int size = static_cast<int>(pending_.size());
    if (handle_ == INVALID_HANDLE_VALUE || FileWrite(handle_, pending_.data(), size) != size)
        throw EFileError("Cannot write file " + target_);
    pending_.clear();
}

void TReplacementFile::Commit() {
    Flush();
    FileClose(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    if (!RenameFile(temporary_, target_)) {
        DeleteFile(temporary_);
        throw EFileError("Cannot create file " + target_);
    }
    temporary_.clear();
}

void TReplacementFile::Discard() {
    if (handle_ != INVALID_HANDLE_VALUE) FileClose(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    if (!temporary_.empty()) DeleteFile(temporary_);
}

void SaveListReplacing(const std::vector<std::string>& lines, const std::string& path) {
    TReplacementFile file(path);
    if (!file.Create()) throw EFileError("Cannot create file " + path);
    for (const auto& line : lines) file.WriteLine(line);
    file.Commit();
}
