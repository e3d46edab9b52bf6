#include "app/IndexCache.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "app/Music.h"
#include "app/Options.h"
#include "app/qv_unit.h"
#include "gateway/HttpEng.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/SysUtils.h"

namespace {
// The layout: magic, header length, file length, header hash; the header;
// then each folder's song names. Every number is 8 bytes, little-endian as
// written by this machine (a file from another byte order fails the magic).
constexpr std::string_view Magic("VLSIDX\x01\x00", 8);
constexpr std::size_t PreambleSize = 32;
constexpr std::int64_t TrustMargin = 2'000'000'000;  // 2 s in nanoseconds
constexpr std::uint64_t MaxCount = 1u << 28;          // more entries than any file could hold

std::int64_t Nanoseconds(const timespec& t) { return static_cast<std::int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec; }

class TWriter {
public:
    void Number(std::uint64_t value) {
        for (int i = 0; i < 8; ++i) text_.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
    void Text(std::string_view value) {
        Number(value.size());
        text_.append(value);
    }
    void Stamp(const TFileStamp& s) {
        Number(s.Exists ? 1 : 0);
        Number(s.Device);
        Number(s.Inode);
        Number(s.Size);
        Number(static_cast<std::uint64_t>(s.Modified));
        Number(static_cast<std::uint64_t>(s.Changed));
    }
    std::string& Data() { return text_; }

private:
    std::string text_;
};

// Every read checks the bounds; a short or inconsistent text sets Failed.
class TReader {
public:
    explicit TReader(std::string_view text) : text_(text) {}
    std::uint64_t Number() {
        if (Failed || text_.size() - at_ < 8) {
            Failed = true;
            return 0;
        }
        std::uint64_t value = 0;
        for (int i = 0; i < 8; ++i) value |= static_cast<std::uint64_t>(static_cast<unsigned char>(text_[at_ + i])) << (8 * i);
        at_ += 8;
        return value;
    }
    std::string Text() {
        const std::uint64_t n = Number();
        if (Failed || n > text_.size() - at_) {
            Failed = true;
            return {};
        }
        std::string value(text_.substr(at_, n));
        at_ += n;
        return value;
    }
    std::uint64_t Count() {
        const std::uint64_t n = Number();
        if (n > MaxCount) Failed = true;
        return Failed ? 0 : n;
    }
    TFileStamp Stamp() {
        TFileStamp s;
        s.Exists = Number() != 0;
        s.Device = Number();
        s.Inode = Number();
        s.Size = Number();
        s.Modified = static_cast<std::int64_t>(Number());
        s.Changed = static_cast<std::int64_t>(Number());
        return s;
    }
    bool AtEnd() const { return at_ == text_.size(); }
    bool Failed = false;

private:
    std::string_view text_;
    std::size_t at_ = 0;
};

bool ReadAt(int fd, std::string& into, std::uint64_t offset, std::uint64_t length) {
    into.resize(length);
    std::uint64_t done = 0;
    while (done < length) {
        const ssize_t n = pread(fd, into.data() + done, length - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::uint64_t>(n);
    }
    return true;
}

std::string TemporaryNameFor(const std::string& osTarget) {
    static std::atomic<unsigned> counter{0};
    const auto slash = osTarget.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    return osTarget.substr(0, start) + "." + osTarget.substr(start) + "." + IntToStr(CurrentProcessId()) + "-" +
           IntToStr(counter.fetch_add(1)) + ".part";
}

std::string FolderOfOs(const std::string& osPath) {
    const auto slash = osPath.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : osPath.substr(0, slash);
}
}  // namespace

TFileStamp StampOf(const std::string& path) {
    struct stat st {};
    TFileStamp stamp;
    if (stat(ToOsPath(path).c_str(), &st) != 0) return stamp;
    stamp.Exists = true;
    stamp.Device = st.st_dev;
    stamp.Inode = st.st_ino;
    stamp.Size = static_cast<std::uint64_t>(st.st_size);
    stamp.Modified = Nanoseconds(st.st_mtim);
    stamp.Changed = Nanoseconds(st.st_ctim);
    return stamp;
}

std::int64_t ClockNow() {
    timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return Nanoseconds(now);
}

bool ListingStillHolds(const TFileStamp& then, std::int64_t takenAt, const TFileStamp& now) {
    if (!(then == now)) return false;
    if (!then.Exists) return true;
    const std::int64_t latest = then.Modified > then.Changed ? then.Modified : then.Changed;
    return latest <= takenAt - TrustMargin;
}

std::uint64_t HashText(std::string_view text, std::uint64_t seed) {
    const std::uint64_t h = std::hash<std::string_view>{}(text);
    return (seed ^ h) * 0x100000001b3ULL + (h >> 7);
}

TIndexCache::~TIndexCache() {
    if (handle_ >= 0) close(handle_);
}

bool TIndexCache::Load(const std::string& path, const std::string& exeFolder, const std::string& programFolder) {
    // Not blocking: a pipe put in the cache's place must not stall the run.
    const int fd = open(ToOsPath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    std::string preamble, header;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ReadAt(fd, preamble, 0, PreambleSize) &&
              preamble.compare(0, Magic.size(), Magic) == 0;
    TReader head(std::string_view(preamble).substr(ok ? Magic.size() : 0));
    const std::uint64_t headerSize = ok ? head.Number() : 0;
    const std::uint64_t fileSize = ok ? head.Number() : 0;
    const std::uint64_t headerHash = ok ? head.Number() : 0;
    ok = ok && fileSize == static_cast<std::uint64_t>(st.st_size) && headerSize <= fileSize - PreambleSize &&
         ReadAt(fd, header, PreambleSize, headerSize) && HashText(header) == headerHash;
    if (!ok) {
        close(fd);
        return false;
    }
    TReader in(header);
    ExeFolder = in.Text();
    ProgramFolder = in.Text();
    for (std::uint64_t n = in.Count(); n > 0 && !in.Failed; --n) Folders.push_back(in.Text());
    ProgramStamp = in.Stamp();
    ProgramTakenAt = static_cast<std::int64_t>(in.Number());
    for (std::uint64_t n = in.Count(); n > 0 && !in.Failed; --n) {
        TCachedFolder folder;
        folder.Name = in.Text();
        folder.Stamp = in.Stamp();
        folder.TakenAt = static_cast<std::int64_t>(in.Number());
        folder.Offset = in.Number();
        folder.Length = in.Number();
        folder.Hash = in.Number();
        Listings.push_back(std::move(folder));
    }
    TemplateExists = in.Number() != 0;
    TemplateHash = in.Number();
    FoldersFile = in.Stamp();
    SongsFile = in.Stamp();
    IndexFile = in.Stamp();
    for (std::uint64_t n = in.Count(); n > 0 && !in.Failed; --n) {
        TCachedPage page;
        page.Genre = in.Text();
        page.Path = in.Text();
        page.Built = in.Number() != 0;
        page.ItemsHash = in.Number();
        page.Page = in.Stamp();
        page.Folder = in.Stamp();
        Pages.push_back(std::move(page));
    }
    blocks_ = PreambleSize + headerSize;
    ok = !in.Failed && in.AtEnd() && ExeFolder == exeFolder && ProgramFolder == programFolder;
    for (std::size_t i = 0; ok && i < Listings.size(); ++i) {
        const TCachedFolder& folder = Listings[i];
        ok = folder.Offset <= fileSize - blocks_ && folder.Length <= fileSize - blocks_ - folder.Offset;
        byName_.emplace(folder.Name, i);
    }
    if (!ok) {
        close(fd);
        Clear();
        return false;
    }
    handle_ = fd;
    return true;
}

void TIndexCache::Clear() {
    ExeFolder.clear();
    ProgramFolder.clear();
    Folders.clear();
    Listings.clear();
    Pages.clear();
    byName_.clear();
}

bool TIndexCache::LoadFiles(TCachedFolder& folder) const {
    if (folder.Loaded) return true;
    std::string block;
    if (handle_ < 0 || !ReadAt(handle_, block, blocks_ + folder.Offset, folder.Length) ||
        HashText(block) != folder.Hash)
        return false;
    TReader in(block);
    std::vector<std::string> files;
    for (std::uint64_t n = in.Count(); n > 0 && !in.Failed; --n) files.push_back(in.Text());
    if (in.Failed || !in.AtEnd()) return false;
    folder.Files = std::move(files);
    folder.Loaded = true;
    return true;
}

TCachedFolder* TIndexCache::Find(const std::string& name) {
    const auto found = byName_.find(name);
    return found == byName_.end() ? nullptr : &Listings[found->second];
}

std::string TIndexCache::Encode() const {
    TWriter blocks;
    std::vector<std::uint64_t> offsets, lengths, hashes;
    for (const auto& folder : Listings) {
        TWriter block;
        block.Number(folder.Files.size());
        for (const auto& file : folder.Files) block.Text(file);
        offsets.push_back(blocks.Data().size());
        lengths.push_back(block.Data().size());
        hashes.push_back(HashText(block.Data()));
        blocks.Data().append(block.Data());
    }
    TWriter out;
    out.Text(ExeFolder);
    out.Text(ProgramFolder);
    out.Number(Folders.size());
    for (const auto& line : Folders) out.Text(line);
    out.Stamp(ProgramStamp);
    out.Number(static_cast<std::uint64_t>(ProgramTakenAt));
    out.Number(Listings.size());
    for (std::size_t i = 0; i < Listings.size(); ++i) {
        out.Text(Listings[i].Name);
        out.Stamp(Listings[i].Stamp);
        out.Number(static_cast<std::uint64_t>(Listings[i].TakenAt));
        out.Number(offsets[i]);
        out.Number(lengths[i]);
        out.Number(hashes[i]);
    }
    out.Number(TemplateExists ? 1 : 0);
    out.Number(TemplateHash);
    out.Stamp(FoldersFile);
    out.Stamp(SongsFile);
    out.Stamp(IndexFile);
    out.Number(Pages.size());
    for (const auto& page : Pages) {
        out.Text(page.Genre);
        out.Text(page.Path);
        out.Number(page.Built ? 1 : 0);
        out.Number(page.ItemsHash);
        out.Stamp(page.Page);
        out.Stamp(page.Folder);
    }
    TWriter file;
    file.Data().assign(Magic);
    file.Number(out.Data().size());
    file.Number(PreambleSize + out.Data().size() + blocks.Data().size());
    file.Number(HashText(out.Data()));
    file.Data().append(out.Data());
    file.Data().append(blocks.Data());
    return std::move(file.Data());
}

std::string IndexCacheFileName() { return OptionsBaseName() + ".cache"; }

bool CanReplaceFile(const std::string& path) {
    const std::string target = ToOsPath(path);
    struct stat st {};
    if (stat(target.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || (st.st_mode & S_IWUSR) == 0)) return false;
    return access(FolderOfOs(target).c_str(), W_OK | X_OK) == 0;
}

bool ReplaceFileContent(const std::string& path, std::string_view content, unsigned mode) {
    if (!CanReplaceFile(path)) return false;
    const std::string target = ToOsPath(path);
    const std::string temporary = TemporaryNameFor(target);
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return false;
    std::size_t done = 0;
    const bool written = WriteFully(fd, content, done);
    const bool ok = close(fd) == 0 && written && rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) unlink(temporary.c_str());
    return ok;
}

bool FileHolds(const std::string& path, std::string_view content) {
    const std::string target = ToOsPath(path);
    struct stat st {};
    if (stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) != content.size())
        return false;
    const int fd = open(target.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::string held;
    const bool read = ReadAt(fd, held, 0, content.size());
    close(fd);
    return read && held == content;
}

void TGenreListings::Append(const std::string& genre, TStringList& list) {
    const std::string folder = ProgramFolder() + genre + "\\";
    if (state_ == 0)
        state_ = cache_.Load(IndexCacheFileName(), PathOfFile(ExecutableFileName()), ProgramFolder()) ? 1 : -1;
    TCachedFolder* cached = state_ == 1 ? cache_.Find(genre) : nullptr;
    if (cached && ListingStillHolds(cached->Stamp, cached->TakenAt, StampOf(ProgramFolder() + genre)) &&
        cache_.LoadFiles(*cached)) {
        for (const auto& file : cached->Files) list.Add(folder + file);
        return;
    }
    ListMp3Files(folder, list);
}
