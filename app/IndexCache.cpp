#include "app/IndexCache.h"

#include <functional>

#include "app/MusicFiles.h"
#include "app/Options.h"
#include "app/qv_unit.h"
#include "gateway/engine/Helpers.h"
#include "gateway/engine/HttpEng.h"
#include "platform/Files.h"
#include "platform/SysUtils.h"

namespace {
// The layout: magic, header length, file length, header hash; the header;
// then each folder's song names. Every number is 8 bytes, least significant
// first; a text is its length, then its bytes.
constexpr std::string_view Magic("VLSIDX\x01\x00", 8);
constexpr std::size_t PreambleSize = 32;
constexpr std::uint64_t MaxCount = 1u << 28;  // more entries than a file could hold: refused

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

}  // namespace

bool ListingStillHolds(const TFileStamp& then, std::int64_t takenAt, const TFileStamp& now) {
    if (!(then == now)) return false;
    if (!then.Exists) return true;
    const std::int64_t latest = then.Modified > then.Changed ? then.Modified : then.Changed;
    return latest <= takenAt - ListingTrustMargin;
}

std::uint64_t HashText(std::string_view text, std::uint64_t seed) {
    const std::uint64_t h = std::hash<std::string_view>{}(text);
    return (seed ^ h) * 0x100000001b3ULL + (h >> 7);
}

TIndexCache::~TIndexCache() {
    if (handle_ != INVALID_HANDLE_VALUE) FileClose(handle_);
}

bool TIndexCache::Load(const std::string& path, const std::string& exeFolder, const std::string& programFolder) {
    const THandle fd = FileOpenRegular(path);
    if (fd == INVALID_HANDLE_VALUE) return false;
    const std::int64_t size = FileSeek(fd, 0, 2);
    std::string preamble, header;
    bool ok = size >= 0 && FileReadAt(fd, preamble, 0, PreambleSize) && preamble.compare(0, Magic.size(), Magic) == 0;
    TReader head(std::string_view(preamble).substr(ok ? Magic.size() : 0));
    const std::uint64_t headerSize = ok ? head.Number() : 0;
    const std::uint64_t fileSize = ok ? head.Number() : 0;
    const std::uint64_t headerHash = ok ? head.Number() : 0;
    ok = ok && fileSize == static_cast<std::uint64_t>(size) && headerSize <= fileSize - PreambleSize &&
         FileReadAt(fd, header, PreambleSize, headerSize) && HashText(header) == headerHash;
    if (!ok) {
        FileClose(fd);
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
        FileClose(fd);
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
    if (handle_ == INVALID_HANDLE_VALUE || !FileReadAt(handle_, block, blocks_ + folder.Offset, folder.Length) ||
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
