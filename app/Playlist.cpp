#include "app/Playlist.h"

#include "app/IndexCache.h"
#include "app/MusicFiles.h"
#include "app/MusicText.h"
#include "app/Options.h"
#include "app/PageChrome.h"
#include "app/PlaylistFields.h"
#include "app/qv_unit.h"
#include "gateway/engine/HttpEng.h"
#include "platform/Files.h"
#include "platform/Random.h"
#include "platform/SysUtils.h"

namespace {
constexpr int MaxPasses = 1000;

// Every song of one genre folder as "genre|item", in listing order.
void AppendGenreSongs(const std::string& genre, TGenreListings& listings, std::vector<std::string>& songlist) {
    TStringList files;
    listings.Append(genre, files);
    for (const auto& file : files.Lines()) songlist.push_back(genre + "|" + PlaylistListItem(genre, file));
}

void TraceFields(const std::vector<std::string>& entries) {
    for (const auto& entry : entries) WriteTrace(entry);
}

void TraceDraw(const TDrawResult& draw, const TSongPool& pool) {
    WriteTrace("Playlistcount " + IntToStr(static_cast<std::int64_t>(draw.Playlist.size())) + "  songlistcount " +
               IntToStr(pool.Count()) + " ii " + IntToStr(draw.Passes));
}

}  // namespace

// One genre per pass in the order of genres, from a random start; a genre
// that has run out is still visited. The stop tests follow the draw, so a
// count of 0 or less still makes one pass.
TDrawResult DrawPlaylist(const std::vector<std::string>& genres, std::int32_t count, TSongPool& pool) {
    TDrawResult draw;
    if (genres.empty()) return draw;
    std::size_t i = NextRandom(static_cast<std::uint32_t>(genres.size()));
    for (;;) {
        std::string item = pool.PickSong(genres[i]);
        if (!item.empty()) draw.Playlist.push_back(std::move(item));
        i = (i + 1) % genres.size();
        ++draw.Passes;
        if (static_cast<std::int64_t>(draw.Playlist.size()) >= count) break;
        if (pool.Count() == 0) break;
        if (draw.Passes > MaxPasses) break;
    }
    return draw;
}

// The page is built from the playlist this request drew, not from the file
// it wrote, so concurrent requests never serve each other's playlist.
void WritePlaylistPage(const std::vector<std::string>& playlist) {
    const std::string templatePath = ProgramFolder() + "index.txt";
    if (!FileExists(templatePath)) return;
    TStringList pageTemplate;
    pageTemplate.LoadFromFile(templatePath);
    for (const auto& line : ExpandPlaylistTemplate(pageTemplate.Lines(), playlist)) HttpWrite(line);
    HttpSendHeader();
}

void GeneratePlaylist() {
    THttpEngine* engine = CurrentHttpEngine();
    const std::vector<std::string> entries = engine ? engine->Fields().Lines() : std::vector<std::string>();
    TraceFields(entries);
    const TPlaylistRequest request = ScanPlaylistFields(PostedFields(entries));
    if (request.Genres.empty()) {
        WriteNoGenrePage();
        return;
    }
    const std::vector<std::string> listed = GenreFolderNames();
    std::vector<std::string> genres;
    std::vector<std::string> songlist;
    TGenreListings listings;
    for (const auto& posted : request.Genres) {
        const std::string folder = GenreFolderFor(posted, listed);
        genres.push_back(folder.empty() ? posted.Sent : folder);
        if (!folder.empty()) AppendGenreSongs(folder, listings, songlist);
    }
    SaveListReplacing(songlist, ProgramFolder() + "Songlist.txt");
    TSongPool pool(std::move(songlist));
    const TDrawResult draw = DrawPlaylist(genres, request.SongCount, pool);
    TraceDraw(draw, pool);
    SaveListReplacing(draw.Playlist, ProgramFolder() + "RandomPlaylist.txt");
    WritePlaylistPage(draw.Playlist);
}

void WriteStoredPlaylistPage() {
    const std::string playlistPath = ProgramFolder() + "RandomPlaylist.txt";
    if (!FileExists(playlistPath)) return;
    TStringList playlist;
    playlist.LoadFromFile(playlistPath);
    WritePlaylistPage(playlist.Lines());
}

void WriteNoGenrePage() {
    StartHtmlPage();
    WritePlaylistBuilderHead();
    HttpWrite("<center><h1>You Must Select at least one Genre</h1></center>");
    HttpWrite("<br><center>Please go back and try again<br>");
    HttpWrite("</center>");
    WriteFooter();
}
