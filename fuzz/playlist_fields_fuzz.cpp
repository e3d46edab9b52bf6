// What a playlist request asks for, over arbitrary field entries: every
// entry holding "=AddGenre" gives one genre (the text before it), in order;
// the last other entry holding "numsongs=" gives the count; a posted genre
// selects one of the listed folders or nothing, never a path; and a song's
// player path is bounded and uses one kind of separator.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/MusicText.h"
#include "app/PlaylistFields.h"
#include "platform/SysUtils.h"

namespace {
void Check(bool condition) {
    if (!condition) __builtin_trap();
}

std::vector<std::string> Lines(std::string_view bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = bytes.find('\n', start)) != std::string_view::npos; start = end + 1)
        lines.emplace_back(bytes.substr(start, end - start));
    lines.emplace_back(bytes.substr(start));
    return lines;
}

void CheckScan(const std::vector<std::string>& entries) {
    const TPlaylistRequest request = ScanPlaylistFields(PostedFields(entries));
    std::size_t genre = 0;
    std::int32_t count = 25;
    for (const auto& entry : entries) {
        const std::size_t choice = entry.find("=AddGenre");
        if (choice != std::string::npos) {
            Check(genre < request.Genres.size() && request.Genres[genre].Sent == entry.substr(0, choice));
            ++genre;
        } else if (entry.find("numsongs=") != std::string::npos) {
            count = SongCountOfEntry(entry);
            Check(count >= -99 && count <= 999);
        }
    }
    Check(genre == request.Genres.size());
    Check(request.SongCount == count);
}

void CheckGenreFolders(const std::vector<std::string>& entries) {
    std::vector<std::string> listed = {"Rumba", "Cha Cha", "Tango"};
    if (!entries.empty() && !entries[0].empty() && entries[0].find_first_of("\\/") == std::string::npos)
        listed.push_back(entries[0]);
    for (const auto& posted : entries) {
        const std::string folder = GenreFolderFor(PostedGenre(posted), listed);
        if (folder.empty()) continue;
        bool known = false;
        for (const auto& name : listed) known = known || name == folder;
        Check(known && folder.find_first_of("\\/") == std::string::npos);
    }
    for (const auto& name : listed) Check(GenreFolderFor(PostedGenre(name), listed) == name);
}

void CheckPlayerPath(const std::string& path) {
    const std::string player = PlayerPath(path);
    const std::size_t at = LowerCase(path).find("\\audiojs");
    if (at == std::string::npos) {
        Check(player == path);
        return;
    }
    Check(player.size() <= 500 && player.find('/') == std::string::npos);
    Check(LowerCase(player.substr(0, 8)) == "\\audiojs");
    Check(SongLinkOf(path).InSite && SongLinkOf(path).PlayerPath == player);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> entries = Lines(bytes);
    CheckScan(entries);
    CheckGenreFolders(entries);
    for (const auto& entry : entries) CheckPlayerPath(entry);
    return 0;
}
