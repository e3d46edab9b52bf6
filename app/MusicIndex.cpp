#include "app/Music.h"
#include "app/OnlineUnit.h"
#include "app/Options.h"
#include "app/qv_unit.h"
#include "gateway/engine/Helpers.h"
#include "gateway/engine/HttpEng.h"
#include "platform/DateTime.h"
#include "platform/Files.h"
#include "platform/SysUtils.h"

namespace {
// Every song of every genre folder, folder by folder. A folder name is cut at
// its last dot here, so a folder Rock.n.Roll is looked for as Rock.n.
TStringList ListGenreSongs(const TStringList& folders) {
    TStringList songs;
    for (const auto& folder : folders.Lines()) {
        const std::string name = StripExtension(FileNameOfPath(folder));
        WriteTrace(name);
        const std::string path = ProgramFolder() + name;
        WriteTrace(path);
        ListMp3Files(path + "\\", songs);
    }
    return songs;
}

// Writes every song's item to the index and builds one page per run of songs
// of the same genre. A song outside the site keeps the previous song's genre.
void WriteIndexAndPages(const TStringList& songs, TReplacementFile& index) {
    std::string previous;
    std::vector<std::string> items;
    for (const auto& song : songs.Lines()) {
        std::string genre = previous;
        const TSongLink link = SongLinkOf(song);
        if (link.InSite) {
            genre = GenreOfPlayerPath(link.PlayerPath);
            WriteTrace(link.PlayerPath);
            WriteTrace(genre);
        }
        std::string item = ListItem(link.PlayerPath, SongTitle(song));
        index.WriteLine(item);
        if (genre != previous && !previous.empty()) {
            WriteTrace("New Genre " + genre);
            BuildGenrePage(previous, items);
            items.clear();
        }
        items.push_back(std::move(item));
        previous = std::move(genre);
    }
    if (!previous.empty()) BuildGenrePage(previous, items);
}

void WriteIndexReport() {
    StartHtmlPage();
    HttpWrite("<html><body bgcolor=\"#FFFFFF\" text=\"#0000AA\">");
    HttpWrite("<font size=4> - REPORT -</font><p>");
    // The hit log's stamp with no host after it: short date, long time.
    HttpWrite("Index Built " + HitLogLine(Now(), ""));
    WriteFooter();
}
}  // namespace

void RunMusicIndex() {
    const std::string exeFolder = PathOfFile(ExecutableFileName());
    TReplacementFile index(exeFolder + "MusicIndex.txt");
    if (!index.Create()) return;
    TStringList folders;
    ListSubfolders(exeFolder, "*.*", folders);
    SaveListReplacing(folders.Lines(), ProgramFolder() + "folders.txt");
    const TStringList songs = ListGenreSongs(folders);
    WriteIndexAndPages(songs, index);
    SaveListReplacing(songs.Lines(), ProgramFolder() + "MP3filelist.txt");
    index.Commit();
    WriteIndexReport();
}

void TMainform::BuildMusicIndex() { RunMusicIndex(); }

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
