// Wildcard listings over opendir/readdir/stat, in the order and with the
// attributes the host's find-first/find-next family gives.
#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#include <vector>

#include "platform/Files.h"

struct TSearchListing {
    std::vector<TSearchRec> Entries;  // matching entries, in listing order
    std::size_t Next = 0;
};

namespace {
// Attributes that keep an entry out of a listing unless asked for; read-only
// and archive entries are always listed.
constexpr int faSpecial = faHidden | faSysFile | faVolumeID | faDirectory;

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// NTFS order: names compared upper-cased, byte by byte; names that differ
// only in case (possible here, not there) keep a fixed byte order.
bool ListsBefore(const TSearchRec& a, const TSearchRec& b) {
    const std::size_t n = std::min(a.Name.size(), b.Name.size());
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(Upper(a.Name[i]));
        const auto cb = static_cast<unsigned char>(Upper(b.Name[i]));
        if (ca != cb) return ca < cb;
    }
    if (a.Name.size() != b.Name.size()) return a.Name.size() < b.Name.size();
    return a.Name < b.Name;
}

int AttributesOf(const std::string& name, const struct stat& st) {
    int attr = 0;
    if (S_ISDIR(st.st_mode))
        attr |= faDirectory;
    else
        attr |= faArchive;
    if (name.size() > 1 && name[0] == '.' && name != "..") attr |= faHidden;
    if ((st.st_mode & S_IWUSR) == 0) attr |= faReadOnly;
    return attr;
}

// Fills rec from the entry; false when the entry vanished meanwhile.
bool DescribeEntry(const std::string& folder, const std::string& name, TSearchRec& rec) {
    const std::string full = folder + "/" + name;
    struct stat st {};
    // A link counts as what it points to; a dangling one as the link itself.
    if (stat(full.c_str(), &st) != 0 && lstat(full.c_str(), &st) != 0) return false;
    rec.Name = name;
    rec.Attr = AttributesOf(name, st);
    rec.Size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::int64_t>(st.st_size);
    rec.Time = UnixToLocalDateTime(static_cast<double>(st.st_mtim.tv_sec) + st.st_mtim.tv_nsec / 1e9);
    return true;
}

int OpenFolderError(int error) {
    if (error == EACCES || error == EPERM) return ERROR_ACCESS_DENIED;
    return ERROR_PATH_NOT_FOUND;
}

// Reads the folder; returns 0 or the host's error code.
int ListFolder(const std::string& folder, const std::string& mask, int excludeAttr, TSearchListing& listing) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return OpenFolderError(errno);
    std::vector<std::string> names;
    while (const dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (MatchesMask(name, mask)) names.push_back(std::move(name));
    }
    closedir(dir);
    for (const auto& name : names) {
        TSearchRec rec;
        if (!DescribeEntry(folder, name, rec) || (rec.Attr & excludeAttr) != 0) continue;
        rec.ExcludeAttr = excludeAttr;
        listing.Entries.push_back(std::move(rec));
    }
    std::sort(listing.Entries.begin(), listing.Entries.end(), ListsBefore);
    return 0;
}

// Copies the next entry into rec, keeping rec's hold on the listing.
int TakeNext(TSearchRec& rec) {
    TSearchListing& listing = *rec.Listing;
    if (listing.Next >= listing.Entries.size()) return ERROR_NO_MORE_FILES;
    const TSearchRec& entry = listing.Entries[listing.Next++];
    rec.Time = entry.Time;
    rec.Size = entry.Size;
    rec.Attr = entry.Attr;
    rec.Name = entry.Name;
    rec.ExcludeAttr = entry.ExcludeAttr;
    return 0;
}
}  // namespace

bool MatchesMask(std::string_view name, std::string_view pattern) {
    if (pattern == "*.*") return true;
    // Greedy match with one backtrack point: the latest "*".
    std::size_t n = 0, p = 0;
    std::size_t starP = std::string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || (pattern[p] != '*' && Upper(pattern[p]) == Upper(name[n])))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

TSearchPattern SplitSearchPattern(const std::string& osPattern) {
    const auto slash = osPattern.rfind('/');
    if (slash == std::string::npos) return {".", osPattern};
    return {slash == 0 ? "/" : osPattern.substr(0, slash), osPattern.substr(slash + 1)};
}

int FindFirst(const std::string& pattern, int attributes, TSearchRec& rec) {
    FindClose(rec);
    const std::string osPattern = ToOsPath(pattern);
    const auto [folder, mask] = SplitSearchPattern(osPattern);
    auto listing = std::make_shared<TSearchListing>();
    const int error = ListFolder(folder, mask, ~attributes & faSpecial, *listing);
    if (error != 0) return error;
    if (listing->Entries.empty()) return ERROR_FILE_NOT_FOUND;
    rec.Listing = std::move(listing);
    return TakeNext(rec);
}

int FindNext(TSearchRec& rec) {
    if (!rec.Listing) return ERROR_NO_MORE_FILES;
    return TakeNext(rec);
}

void FindClose(TSearchRec& rec) { rec.Listing.reset(); }
