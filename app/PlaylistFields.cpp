#include "app/PlaylistFields.h"

#include <algorithm>
#include <string_view>

#include "gateway/UrlEncoded.h"
#include "platform/SysUtils.h"

namespace {
constexpr std::size_t SongCountDigits = 3;
constexpr std::string_view GenreChoice = "=AddGenre";
constexpr std::string_view SongCountField = "numsongs=";
}  // namespace

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
