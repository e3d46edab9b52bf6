#include "app/PlaylistFields.h"

#include <algorithm>
#include <string_view>

#include "gateway/engine/UrlEncoded.h"
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

std::vector<TPostedField> PostedFields(const std::vector<std::string>& entries) {
    std::vector<TPostedField> fields;
    fields.reserve(entries.size());
    for (const auto& entry : entries) {
        const auto equals = entry.find('=');
        if (equals != std::string::npos) fields.push_back({entry.substr(0, equals), entry.substr(equals + 1)});
    }
    return fields;
}

// Browsers send field names form-encoded, so a name that is no folder as sent
// is tried decoded.
TPostedGenre PostedGenre(std::string sent) {
    std::string decoded = UrlDecode(sent);
    return {std::move(sent), std::move(decoded)};
}

// The rule reads each field as the list holds it, "Name=Value": a genre
// choice holds "=AddGenre" and names the text before it (the field's name,
// as the form sends it); any other field holding "numsongs=" sets the count,
// the last one winning.
TPlaylistRequest ScanPlaylistFields(const std::vector<TPostedField>& fields) {
    TPlaylistRequest request;
    for (const auto& field : fields) {
        const std::string entry = field.Name + "=" + field.Value;
        const auto choice = entry.find(GenreChoice);
        if (choice != std::string::npos)
            request.Genres.push_back(PostedGenre(entry.substr(0, choice)));
        else if (entry.find(SongCountField) != std::string::npos)
            request.SongCount = SongCountOfEntry(entry);
    }
    return request;
}

// A name that would leave the program folder matches nothing.
std::string GenreFolderFor(const TPostedGenre& genre, const std::vector<std::string>& listed) {
    for (const std::string* name : {&genre.Sent, &genre.Decoded}) {
        if (name->empty() || name->find_first_of("\\/") != std::string::npos) continue;
        if (std::find(listed.begin(), listed.end(), *name) != listed.end()) return *name;
    }
    return {};
}
