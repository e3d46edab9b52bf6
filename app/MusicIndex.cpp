#include "app/MusicIndex.h"

#include <unordered_map>

#include "app/IndexCache.h"
#include "app/MusicFiles.h"
#include "app/MusicText.h"
#include "app/Options.h"
#include "app/PageChrome.h"
#include "app/qv_unit.h"
#include "gateway/engine/Helpers.h"
#include "gateway/engine/HttpEng.h"
#include "platform/DateTime.h"
#include "platform/Exception.h"
#include "platform/Files.h"
#include "platform/SysUtils.h"

namespace {
constexpr std::size_t TraceBlock = 1 << 20;

// The run's trace lines, appended a block at a time rather than one open of
// the trace per line; what reaches the trace is the same.
class TTraceLines {
public:
    TTraceLines() : on_(Options.diagnostics != 0) {}
    ~TTraceLines() {
        try {
            Flush();
        } catch (const std::exception&) {
            // An exception is already on its way; these lines are lost.
        }
    }
    TTraceLines(const TTraceLines&) = delete;
    TTraceLines& operator=(const TTraceLines&) = delete;
    bool On() const { return on_; }
    void Add(std::string_view line) {
        if (!on_) return;
        text_.append(line).append("\r\n");
        if (text_.size() >= TraceBlock) Flush();
    }
    void Flush() {
        if (text_.empty()) return;
        std::string block;
        block.swap(text_);
        WriteTraceLines(block);
    }

private:
    bool on_;
    std::string text_;
};

std::string JoinLines(const std::vector<std::string>& lines) {
    std::size_t size = 0;
    for (const auto& line : lines) size += line.size() + 2;
    std::string text;
    text.reserve(size);
    for (const auto& line : lines) text.append(line).append("\r\n");
    return text;
}

// Writes content unless the file already holds it; raises when it must be
// written and cannot.
void KeepOrReplace(const std::string& path, const std::string& content) {
    if (!FileHolds(path, content) && !ReplaceFileContent(path, content)) throw EFileError("Cannot create file " + path);
}

void WriteIndexReport() {
    StartHtmlPage();
    HttpWrite("<html><body bgcolor=\"#FFFFFF\" text=\"#0000AA\">");
    HttpWrite("<font size=4> - REPORT -</font><p>");
    // The hit log's stamp with no host after it: short date, long time.
    HttpWrite("Index Built " + HitLogLine(Now(), ""));
    WriteFooter();
}

// One index run. The listings come from the cache where their folder is
// unchanged; the files and pages are written only where their content
// differs; the trace gets the lines of a whole scan in either case.
class TIndexRun {
public:
    explicit TIndexRun(TIndexScan scan)
        : scan_(scan), exeFolder_(PathOfFile(ExecutableFileName())), programFolder_(ProgramFolder()) {}
    void Run();

private:
    void TakeGenreList();
    void TakeListings();
    void TakeTemplate();
    bool OutputsHold() const;
    bool LoadAllNames();
    void Walk(bool build);
    void Page(const std::string& genre, const std::vector<std::string>& items, bool build);
    void TracePage(const std::string& path, bool built);
    void WriteCache();

    TIndexScan scan_;
    std::string exeFolder_, programFolder_;
    TIndexCache old_, now_;
    bool cached_ = false;
    bool listingChanged_ = false;  // the folders or a folder's songs differ from the last run
    bool templateChanged_ = false;
    bool templateUnreadable_ = false;
    bool relisted_ = false;        // the cache no longer describes what was listed
    std::vector<std::size_t> listingOfFolder_;
    std::vector<std::string> templateLines_;
    TTraceLines trace_;
    std::size_t pageIndex_ = 0;
    std::string songsText_, indexText_;
};

void TIndexRun::Run() {
    const std::string indexPath = exeFolder_ + "MusicIndex.txt";
    if (!CanReplaceFile(indexPath)) return;
    cached_ = old_.Load(IndexCacheFileName(), exeFolder_, programFolder_);
    now_.ExeFolder = exeFolder_;
    now_.ProgramFolder = programFolder_;
    TakeGenreList();
    const std::string foldersPath = programFolder_ + "folders.txt";
    if (!cached_ || listingChanged_ || !(StampOf(foldersPath) == old_.FoldersFile))
        KeepOrReplace(foldersPath, JoinLines(now_.Folders));
    now_.FoldersFile = StampOf(foldersPath);
    TakeListings();
    TakeTemplate();
    bool unchanged = cached_ && !listingChanged_ && !templateChanged_ && OutputsHold();
    if (unchanged && !relisted_ && !trace_.On()) {
        WriteIndexReport();
        return;
    }
    if (!LoadAllNames()) unchanged = false;
    if (!unchanged || trace_.On()) Walk(!unchanged);
    trace_.Flush();
    if (!unchanged) {
        const std::string songsPath = programFolder_ + "MP3filelist.txt";
        if (!cached_ || listingChanged_ || !(StampOf(songsPath) == old_.SongsFile)) KeepOrReplace(songsPath, songsText_);
        if (!cached_ || listingChanged_ || !(StampOf(indexPath) == old_.IndexFile)) KeepOrReplace(indexPath, indexText_);
        now_.SongsFile = StampOf(songsPath);
        now_.IndexFile = StampOf(indexPath);
    } else {
        now_.SongsFile = old_.SongsFile;
        now_.IndexFile = old_.IndexFile;
        now_.Pages = old_.Pages;
    }
    if (!unchanged || relisted_) WriteCache();
    WriteIndexReport();
}

// The genre list is listed again only when the program folder changed; the
// program's own files there change it too, and an unchanged list then keeps
// the recorded times.
void TIndexRun::TakeGenreList() {
    const TFileStamp stamp = StampOf(exeFolder_);
    const std::int64_t takenAt = ClockNow();
    if (cached_ && scan_ == TIndexScan::Changed && stamp.Exists &&
        ListingStillHolds(old_.ProgramStamp, old_.ProgramTakenAt, stamp)) {
        now_.Folders = old_.Folders;
        now_.ProgramStamp = old_.ProgramStamp;
        now_.ProgramTakenAt = old_.ProgramTakenAt;
        return;
    }
    TStringList folders;
    ListSubfolders(exeFolder_, "*.*", folders);
    now_.Folders = folders.Lines();
    const bool same = cached_ && now_.Folders == old_.Folders;
    listingChanged_ = listingChanged_ || !same;
    relisted_ = relisted_ || !same;
    now_.ProgramStamp = same ? old_.ProgramStamp : stamp;
    now_.ProgramTakenAt = same ? old_.ProgramTakenAt : takenAt;
}

// Each folder name is scanned cut at its last dot, so a folder Rock.n.Roll
// is looked for as Rock.n; a name met twice is listed once.
void TIndexRun::TakeListings() {
    std::unordered_map<std::string, std::size_t> byName;
    for (const auto& line : now_.Folders) {
        const std::string name = StripExtension(FileNameOfPath(line));
        const auto [at, added] = byName.try_emplace(name, now_.Listings.size());
        listingOfFolder_.push_back(at->second);
        if (!added) continue;
        const TFileStamp stamp = StampOf(programFolder_ + name);
        const std::int64_t takenAt = ClockNow();
        TCachedFolder* before = cached_ ? old_.Find(name) : nullptr;
        if (before && scan_ == TIndexScan::Changed && ListingStillHolds(before->Stamp, before->TakenAt, stamp)) {
            now_.Listings.push_back(*before);
            continue;
        }
        TCachedFolder listing;
        listing.Name = name;
        listing.Stamp = stamp;
        listing.TakenAt = takenAt;
        listing.Loaded = true;
        for (auto& entry : ListDirectoryNames(programFolder_ + name + "\\*.mp3")) listing.Files.push_back(std::move(entry.Name));
        const bool same = before && old_.LoadFiles(*before) && before->Files == listing.Files;
        listingChanged_ = listingChanged_ || !same;
        // A listing that confirms a trusted one leaves the cache as it is.
        if (same && ListingStillHolds(before->Stamp, before->TakenAt, stamp)) {
            now_.Listings.push_back(*before);
            continue;
        }
        relisted_ = true;
        now_.Listings.push_back(std::move(listing));
    }
}

// A template that exists but cannot be read fails the run at the first page
// that could be built, as reading it for that page would; until then the
// run goes on.
void TIndexRun::TakeTemplate() {
    const std::string path = programFolder_ + "index.txt";
    now_.TemplateExists = FileExists(path);
    std::string text;
    if (now_.TemplateExists && !ReadWholeFile(path, text)) templateUnreadable_ = true;
    TStringList lines;
    lines.SetText(text);
    templateLines_ = lines.Lines();
    now_.TemplateHash = HashText(JoinLines(templateLines_));
    templateChanged_ = !cached_ || templateUnreadable_ || now_.TemplateExists != old_.TemplateExists ||
                       now_.TemplateHash != old_.TemplateHash;
}

// The files of the last run are as it left them.
bool TIndexRun::OutputsHold() const {
    if (!(StampOf(programFolder_ + "MP3filelist.txt") == old_.SongsFile) ||
        !(StampOf(exeFolder_ + "MusicIndex.txt") == old_.IndexFile))
        return false;
    for (const auto& page : old_.Pages)
        if (!(StampOf(page.Path) == page.Page) || !(StampOf(PathOfFile(page.Path)) == page.Folder)) return false;
    return true;
}

// A folder whose names cannot be read back from the cache is listed afresh.
bool TIndexRun::LoadAllNames() {
    bool all = true;
    for (auto& listing : now_.Listings) {
        if (listing.Loaded || old_.LoadFiles(listing)) continue;
        listing.Files.clear();
        for (auto& entry : ListDirectoryNames(programFolder_ + listing.Name + "\\*.mp3"))
            listing.Files.push_back(std::move(entry.Name));
        listing.Loaded = true;
        listingChanged_ = relisted_ = true;
        all = false;
    }
    return all;
}

// The scan in its order: per folder its name and path, then per song its
// player path and genre, a page per run of songs of one genre. A song
// outside the site keeps the previous song's genre. With build, the index
// texts are made and the pages written; without, only the trace is.
void TIndexRun::Walk(bool build) {
    for (std::size_t i = 0; i < now_.Folders.size(); ++i) {
        const std::string& name = now_.Listings[listingOfFolder_[i]].Name;
        trace_.Add(name);
        trace_.Add(programFolder_ + name);
    }
    std::string previous;
    std::vector<std::string> items;
    std::string song;
    for (std::size_t i = 0; i < now_.Folders.size(); ++i) {
        const TCachedFolder& listing = now_.Listings[listingOfFolder_[i]];
        const std::string folder = programFolder_ + listing.Name + "\\";
        for (const auto& file : listing.Files) {
            song.assign(folder).append(file);
            std::string genre = previous;
            const TSongLink link = SongLinkOf(song);
            if (link.InSite) {
                genre = GenreOfPlayerPath(link.PlayerPath);
                trace_.Add(link.PlayerPath);
                trace_.Add(genre);
            }
            std::string item;
            if (build) {
                item = ListItem(link.PlayerPath, SongTitle(song));
                songsText_.append(song).append("\r\n");
                indexText_.append(item).append("\r\n");
            }
            if (genre != previous && !previous.empty()) {
                trace_.Add("New Genre " + genre);
                Page(previous, items, build);
                items.clear();
            }
            items.push_back(std::move(item));
            previous = std::move(genre);
        }
    }
    if (!previous.empty()) Page(previous, items, build);
}

void TIndexRun::TracePage(const std::string& path, bool built) {
    if (!built) return;
    trace_.Add("Build page " + path);
    if (!now_.TemplateExists) trace_.Add("Missing index.txt");
}

// A page whose songs and template are those of the last run and whose file
// is as that run left it stays; any other is made and written when its
// content differs. A page that cannot be created is skipped.
void TIndexRun::Page(const std::string& genre, const std::vector<std::string>& items, bool build) {
    const TCachedPage* before = pageIndex_ < old_.Pages.size() ? &old_.Pages[pageIndex_] : nullptr;
    ++pageIndex_;
    if (!build) {
        TracePage(GenrePagePath(programFolder_, genre), before && before->Built);
        return;
    }
    TCachedPage page;
    page.Genre = genre;
    page.Path = GenrePagePath(programFolder_, genre);
    for (const auto& item : items) page.ItemsHash = HashText(item, page.ItemsHash);
    const std::string folder = PathOfFile(page.Path);
    if (cached_ && !templateChanged_ && before && before->Genre == genre && before->Path == page.Path &&
        before->ItemsHash == page.ItemsHash && StampOf(page.Path) == before->Page && StampOf(folder) == before->Folder) {
        TracePage(page.Path, before->Built);
        now_.Pages.push_back(*before);
        return;
    }
    if (templateUnreadable_ && CanReplaceFile(page.Path)) {
        TracePage(page.Path, true);
        throw EFileError("Cannot open file \"" + programFolder_ + "index.txt\"");
    }
    const std::string content = now_.TemplateExists ? JoinLines(ExpandGenreTemplate(templateLines_, genre, items)) : "";
    page.Built = FileHolds(page.Path, content) ? CanReplaceFile(page.Path) : ReplaceFileContent(page.Path, content);
    TracePage(page.Path, page.Built);
    page.Page = StampOf(page.Path);
    page.Folder = StampOf(folder);
    now_.Pages.push_back(std::move(page));
}

// Private to the program (its owner alone may read it); a cache that cannot be written only
// costs the next run a full scan.
void TIndexRun::WriteCache() {
    for (auto& listing : now_.Listings)
        if (!listing.Loaded) return;
    static_cast<void>(ReplaceFileContent(IndexCacheFileName(), now_.Encode(), /*privateFile=*/true));
}
}  // namespace

void RunMusicIndex(TIndexScan scan) { TIndexRun(scan).Run(); }

void RunMusicIndex() { RunMusicIndex(TIndexScan::Changed); }


// A page that cannot be created (no such folder beside "audiojs") is skipped;
// with no template the page is left empty.
void BuildGenrePage(const std::string& genre, const std::vector<std::string>& items) {
    const std::string path = GenrePagePath(ProgramFolder(), genre);
    TReplacementFile page(path);
    if (!page.Create()) return;
    WriteTrace("Build page " + path);
    const std::string templatePath = ProgramFolder() + "index.txt";
    if (!FileExists(templatePath)) {
        WriteTrace("Missing index.txt");
        page.Commit();
        return;
    }
    TStringList pageTemplate;
    pageTemplate.LoadFromFile(templatePath);
    for (const auto& line : ExpandGenreTemplate(pageTemplate.Lines(), genre, items)) page.WriteLine(line);
    page.Commit();
}
