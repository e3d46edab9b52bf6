// Names-only wildcard listings: readdir and the entry type it reports, stat
// only for entries of unknown type and for links.
#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

#include "platform/Files.h"

namespace {
// A name with its sort key: the name upper-cased (A-Z only). FindFirst's
// order is the keys' byte order, a key that is a prefix of another first,
// then the names' exact bytes.
struct TKeyedName {
    std::string Key;
    TDirectoryName Entry;
};

std::string UpperKey(const std::string& name) {
    std::string key = name;
    for (auto& c : key)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return key;
}

bool ListsBefore(const TKeyedName& a, const TKeyedName& b) {
    const int byKey = a.Key.compare(b.Key);
    return byKey != 0 ? byKey < 0 : a.Entry.Name < b.Entry.Name;
}

// False when the entry vanished meanwhile, as FindFirst then skips it.
bool TypeOf(const std::string& folder, const dirent& entry, bool& isDirectory) {
    if (entry.d_type != DT_UNKNOWN && entry.d_type != DT_LNK) {
        isDirectory = entry.d_type == DT_DIR;
        return true;
    }
    const std::string full = folder + "/" + entry.d_name;
    struct stat st {};
    if (stat(full.c_str(), &st) != 0 && lstat(full.c_str(), &st) != 0) return false;
    isDirectory = S_ISDIR(st.st_mode);
    return true;
}
}  // namespace

std::vector<TDirectoryName> ListDirectoryNames(const std::string& pattern) {
    const std::string osPattern = ToOsPath(pattern);
    const auto slash = osPattern.rfind('/');
    std::string folder = ".";
    std::string mask = osPattern;
    if (slash != std::string::npos) {
        folder = slash == 0 ? "/" : osPattern.substr(0, slash);
        mask = osPattern.substr(slash + 1);
    }
    std::vector<TKeyedName> keyed;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            if (!MatchesMask(entry->d_name, mask)) continue;
            TKeyedName name{UpperKey(entry->d_name), {entry->d_name, false}};
            if (TypeOf(folder, *entry, name.Entry.IsDirectory)) keyed.push_back(std::move(name));
        }
        closedir(dir);
    }
    std::sort(keyed.begin(), keyed.end(), [](const TKeyedName& a, const TKeyedName& b) { return ListsBefore(a, b); });
    std::vector<TDirectoryName> names;
    names.reserve(keyed.size());
    for (auto& name : keyed) names.push_back(std::move(name.Entry));
    return names;
}
