#include <algorithm>

#include "app/Music.h"
#include "app/qv_unit.h"
#include "gateway/UrlEncoded.h"
#include "platform/SysUtils.h"

namespace {
constexpr std::size_t MaxPlayerPath = 500;
constexpr std::size_t SongCountDigits = 3;
constexpr std::string_view GenreChoice = "=AddGenre";
constexpr std::string_view SongCountField = "numsongs=";
constexpr std::string_view PlaylistMarker = "<insert songlist>";

bool StartsWith(const std::string& line, std::string_view prefix) {
    return line.compare(0, prefix.size(), prefix) == 0;
}
}  // namespace

std::string PlayerPath(const std::string& songPath) {
    const auto at = LowerCase(songPath).find("\\audiojs");
    if (at == std::string::npos) return songPath;
    return ReplaceText(songPath.substr(at, MaxPlayerPath), "/", "\\", true);
}

std::string SongTitle(const std::string& songPath) { return StripExtension(FileNameOfPath(songPath)); }

std::string IndexListItem(const std::string& songPath) {
    return "<li><a href=\"#\" data-src=\".." + PlayerPath(songPath) + "\">" + SongTitle(songPath) + "</a></li>";
}

std::string PlaylistListItem(const std::string& genre, const std::string& songPath) {
    return "<li><a href=\"#\" data-src=\".." + PlayerPath(songPath) + "\">(" + genre + ") " + SongTitle(songPath) +
           "</a></li>";
}

std::string GenreOfPlayerPath(const std::string& playerPath) {
    const std::string rest = ReplaceText(playerPath, "\\audiojs\\", "", false);
    return rest.substr(0, rest.find('\\'));
}

// The program folder ends in "\", so the page path holds a doubled separator,
// which the file system reads as one.
std::string GenrePagePath(const std::string& programFolder, const std::string& genre) {
    return ReplaceText(programFolder + "\\" + genre + "\\" + "index.html", "audiojs\\", "", false);
}

std::vector<std::string> ExpandGenreTemplate(const std::vector<std::string>& templateLines,
                                             const std::string& genre,
                                             const std::vector<std::string>& items) {
    std::vector<std::string> page;
    page.reserve(templateLines.size() + items.size());
    for (const auto& line : templateLines) {
        if (StartsWith(line, "BREAKGENRE"))
            page.push_back("<h1>" + genre + "<em> Marbeck Ballroom</em></h1>");
        else if (StartsWith(line, "BREAKMUSIC"))
            page.insert(page.end(), items.begin(), items.end());
        else
            page.push_back(line);
    }
    return page;
}

std::vector<std::string> ExpandPlaylistTemplate(const std::vector<std::string>& templateLines,
                                                const std::vector<std::string>& playlist) {
    std::vector<std::string> page;
    page.reserve(templateLines.size() + playlist.size());
    for (const auto& line : templateLines) {
        if (line.find(PlaylistMarker) != std::string::npos)
            page.insert(page.end(), playlist.begin(), playlist.end());
        else
            page.push_back(line);
    }
    return page;
}

std::int32_t SongCountOfEntry(const std::string& entry) {
    const auto at = entry.find(SongCountField);
    if (at == std::string::npos) return 25;
    return StrToIntDef(entry.substr(at + SongCountField.size(), SongCountDigits), 25);
}

// A genre choice is an entry holding "=AddGenre"; its name is the text before
// it. Any other entry holding "numsongs=" sets the count, the last one winning.
TPlaylistRequest ScanPlaylistFields(const std::vector<std::string>& entries) {
    TPlaylistRequest request;
    for (const auto& entry : entries) {
        const auto choice = entry.find(GenreChoice);
        if (choice != std::string::npos)
            request.Genres.push_back(entry.substr(0, choice));
        else if (entry.find(SongCountField) != std::string::npos)
            request.SongCount = SongCountOfEntry(entry);
    }
    return request;
}

// Browsers send field names form-encoded and the field list keeps names as
// they arrived, so a name that is no folder as sent is tried decoded. A
// name that would leave the program folder matches nothing.
std::string GenreFolderFor(const std::string& posted, const std::vector<std::string>& listed) {
    for (const std::string& name : {posted, UrlDecode(posted)}) {
        if (name.empty() || name.find_first_of("\\/") != std::string::npos) continue;
        if (std::find(listed.begin(), listed.end(), name) != listed.end()) return name;
    }
    return {};
}
