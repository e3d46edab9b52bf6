#include "app/MusicText.h"

#include <algorithm>

#include "app/qv_unit.h"
#include "gateway/engine/UrlEncoded.h"
#include "platform/SysUtils.h"

namespace {
constexpr std::size_t MaxPlayerPath = 500;
constexpr std::string_view PlaylistMarker = "<insert songlist>";

bool StartsWith(const std::string& line, std::string_view prefix) {
    return line.compare(0, prefix.size(), prefix) == 0;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// Position of lowerNeedle in text compared with A-Z lower-cased, as a search
// in LowerCase(text) finds it, without building the lower-cased copy.
std::size_t FindIgnoringCase(const std::string& text, std::string_view lowerNeedle) {
    if (lowerNeedle.size() > text.size()) return std::string::npos;
    for (std::size_t i = 0; i + lowerNeedle.size() <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < lowerNeedle.size() && LowerAscii(text[i + k]) == lowerNeedle[k]) ++k;
        if (k == lowerNeedle.size()) return i;
    }
    return std::string::npos;
}

// ReplaceText also replaces marker bytes (0xA4) already in a text; only a
// text without them may take the direct way, which gives the same result.
bool HasReplaceMarkerByte(const std::string& text) { return text.find('\xA4') != std::string::npos; }

std::string SlashesToBackslashes(std::string text) {
    if (HasReplaceMarkerByte(text)) return ReplaceText(text, "/", "\\", true);
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

constexpr std::string_view AudiojsFolder = "\\audiojs\\";

// The text before the first "\" of text with its first "\audiojs\" (any
// case) removed, taken without building the shortened text.
std::string HeadWithoutFirstAudiojsFolder(const std::string& text) {
    const auto at = FindIgnoringCase(text, AudiojsFolder);
    const auto before = text.find('\\');
    if (at == std::string::npos || before < at) return text.substr(0, before);
    const auto after = at + AudiojsFolder.size();
    const auto end = text.find('\\', after);
    return text.substr(0, at) + text.substr(after, end == std::string::npos ? std::string::npos : end - after);
}
}  // namespace

TSongLink SongLinkOf(const std::string& songPath) {
    const auto at = FindIgnoringCase(songPath, "\\audiojs");
    if (at == std::string::npos) return {false, songPath};
    return {true, SlashesToBackslashes(songPath.substr(at, MaxPlayerPath))};
}

std::string PlayerPath(const std::string& songPath) { return SongLinkOf(songPath).PlayerPath; }

// Each step of FileNameOfPath keeps at most 255 characters after the
// separator it found; a path of at most 256 characters never loses any, and
// its last component is then simply what follows the last separator.
// The extension is cut at the last "." of the name.
std::string SongTitle(const std::string& songPath) {
    if (songPath.size() > 256) return StripExtension(FileNameOfPath(songPath));
    std::size_t start = songPath.size();
    while (start > 0 && songPath[start - 1] != '\\' && songPath[start - 1] != '/') --start;
    const auto dot = songPath.rfind('.');
    const std::size_t end = dot == std::string::npos || dot < start ? songPath.size() : dot;
    return songPath.substr(start, end - start);
}

// Names may hold "&", quotes or "<": escaped, a "\"" in a song name cannot end
// the attribute, and the browser hands the player the path as it is on disk.
std::string ListItem(const std::string& playerPath, const std::string& label) {
    constexpr std::string_view open = "<li><a href=\"#\" data-src=\"..";
    constexpr std::string_view middle = "\">";
    constexpr std::string_view close = "</a></li>";
    const std::string path = HtmlEscape(playerPath);
    const std::string text = HtmlEscape(label);
    std::string item;
    item.reserve(open.size() + path.size() + middle.size() + text.size() + close.size());
    item.append(open).append(path).append(middle).append(text).append(close);
    return item;
}

std::string IndexListItem(const std::string& songPath) { return ListItem(PlayerPath(songPath), SongTitle(songPath)); }

std::string PlaylistListItem(const std::string& genre, const std::string& songPath) {
    const std::string title = SongTitle(songPath);
    std::string label;
    label.reserve(genre.size() + title.size() + 3);
    label.append("(").append(genre).append(") ").append(title);
    return ListItem(PlayerPath(songPath), label);
}

std::string GenreOfPlayerPath(const std::string& playerPath) {
    if (HasReplaceMarkerByte(playerPath)) {
        const std::string rest = ReplaceText(playerPath, std::string(AudiojsFolder), "", false);
        return rest.substr(0, rest.find('\\'));
    }
    return HeadWithoutFirstAudiojsFolder(playerPath);
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
            page.push_back("<h1>" + HtmlEscape(genre) + "<em> Marbeck Ballroom</em></h1>");
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
