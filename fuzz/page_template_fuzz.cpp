// The page template with its markers: the site owner's "index.txt" split
// into lines and expanded for a genre page (BREAKGENRE, BREAKMUSIC) and for
// the playlist page ("<insert songlist>").
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/MusicText.h"
#include "platform/StringList.h"

namespace {
bool StartsWith(const std::string& line, std::string_view prefix) { return line.compare(0, prefix.size(), prefix) == 0; }

void Check(bool condition) {
    if (!condition) __builtin_trap();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TStringList pageTemplate;
    pageTemplate.SetText(std::string_view(reinterpret_cast<const char*>(data), size));
    const auto& lines = pageTemplate.Lines();
    const std::vector<std::string> items = {"<li>one</li>", "<li>two</li>", "<li>three</li>"};

    std::size_t headings = 0, lists = 0, playlistMarkers = 0;
    for (const auto& line : lines) {
        Check(line.find_first_of("\r\n") == std::string::npos);
        if (StartsWith(line, "BREAKGENRE")) ++headings;
        else if (StartsWith(line, "BREAKMUSIC")) ++lists;
        if (line.find("<insert songlist>") != std::string::npos) ++playlistMarkers;
    }

    // Every marker line is consumed; the other lines come through in order.
    const auto genrePage = ExpandGenreTemplate(lines, "Cha Cha", items);
    Check(genrePage.size() == lines.size() - lists + lists * items.size());
    std::size_t headingLines = 0;
    for (const auto& line : genrePage) {
        Check(!StartsWith(line, "BREAKGENRE") && !StartsWith(line, "BREAKMUSIC"));
        if (line == "<h1>Cha Cha<em> Marbeck Ballroom</em></h1>") ++headingLines;
    }
    Check(headingLines >= headings);

    const auto playlistPage = ExpandPlaylistTemplate(lines, items);
    Check(playlistPage.size() == lines.size() - playlistMarkers + playlistMarkers * items.size());
    for (const auto& line : playlistPage) Check(line.find("<insert songlist>") == std::string::npos);
    return 0;
}
