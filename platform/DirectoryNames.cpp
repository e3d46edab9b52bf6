// Names-only wildcard listings: readdir and the entry type it reports, stat
// only for entries of unknown type and for links.
#include <algorithm>
#include <cstdint>
#include <dirent.h>
#include <sys/stat.h>

#include "platform/Files.h"

namespace {
unsigned char Upper(char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u >= 'a' && u <= 'z') ? static_cast<unsigned char>(u - 32) : u;
}

// FindFirst's order: the names upper-cased (A-Z only) in byte order, a name
// that is a prefix of another first, then the exact bytes. The first 16
// upper-cased bytes, packed big-endian and padded with zero bytes (no name
// holds one), decide most comparisons without touching the names.
struct TSortKey {
    std::uint64_t High = 0, Low = 0;
    std::uint32_t Index = 0;
};

TSortKey KeyOf(const std::string& name, std::uint32_t index) {
    TSortKey key;
    key.Index = index;
    for (std::size_t i = 0; i < 16; ++i) {
        const std::uint64_t byte = i < name.size() ? Upper(name[i]) : 0;
        (i < 8 ? key.High : key.Low) |= byte << (8 * (7 - i % 8));
    }
    return key;
}

bool NamesBefore(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i)
        if (Upper(a[i]) != Upper(b[i])) return Upper(a[i]) < Upper(b[i]);
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
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
    const auto [folder, mask] = SplitSearchPattern(osPattern);
    std::vector<TDirectoryName> found;
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            if (!MatchesMask(entry->d_name, mask)) continue;
            TDirectoryName name{entry->d_name, false};
            if (TypeOf(folder, *entry, name.IsDirectory)) found.push_back(std::move(name));
        }
        closedir(dir);
    }
    std::vector<TSortKey> keys;
    keys.reserve(found.size());
    for (std::size_t i = 0; i < found.size(); ++i) keys.push_back(KeyOf(found[i].Name, static_cast<std::uint32_t>(i)));
    std::sort(keys.begin(), keys.end(), [&found](const TSortKey& a, const TSortKey& b) {
        if (a.High != b.High) return a.High < b.High;
        if (a.Low != b.Low) return a.Low < b.Low;
        return NamesBefore(found[a.Index].Name, found[b.Index].Name);
    });
    std::vector<TDirectoryName> names;
    names.reserve(found.size());
    for (const auto& key : keys) names.push_back(std::move(found[key.Index]));
    return names;
}
