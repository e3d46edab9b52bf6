#include "gateway/engine/UrlEncoded.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <utility>
#include <vector>

#include "platform/SysUtils.h"

namespace {
int HexValue(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return ch - 'a' + 10;
}

void AppendDecoded(std::string& out, std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char ch = text[i];
        if (ch == '%' && i + 2 < text.size() && IsHexDigit(text[i + 1]) && IsHexDigit(text[i + 2])) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else if (ch == '+') {
            out += ' ';
        } else {
            out += ch;
        }
    }
}

// Index of the first line of a sorted list named name (ignoring case), or
// -1. Every line so named begins with name + "=", and those lines sort as
// one block, so its start is the lower bound of name + "=".
int FindNameSorted(const TStringList& list, std::string_view name) {
    const std::string prefix = std::string(name) + "=";
    int lo = 0;
    int hi = list.Count();
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (CompareText(list[mid], prefix) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < list.Count() && StartsText(prefix, list[lo])) return lo;
    return -1;
}

// One name=value pair as sent: the name undecoded, in the buffer; the value
// decoded into a buffer shared by all pairs of the parse. Offsets are
// 32-bit, so a parse takes at most 4 GiB, far beyond any body the engine
// reads. Key holds the name's first 8 bytes lower-cased, so most
// comparisons are one integer comparison.
struct TPair {
    std::uint64_t Key;
    std::uint32_t NameAt;  // also the arrival order
    std::uint32_t NameLength;
    std::uint32_t ValueAt;
    std::uint32_t ValueLength;
};

std::uint64_t NameKey(std::string_view name) {
    std::uint64_t key = 0;
    for (std::size_t i = 0; i < 8; ++i) {
        char ch = i < name.size() ? name[i] : '\0';
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
        key = (key << 8) | static_cast<unsigned char>(ch);
    }
    return key;
}

// CompareText of two pairs' names. A name holds no zero byte (the parse
// ends at one), so equal keys of names of at most 8 bytes mean equal names.
int CompareNames(std::string_view buffer, const TPair& a, const TPair& b) {
    if (a.Key != b.Key) return a.Key < b.Key ? -1 : 1;
    if (a.NameLength <= 8 && b.NameLength <= 8) return 0;
    return CompareText(buffer.substr(a.NameAt, a.NameLength), buffer.substr(b.NameAt, b.NameLength));
}

// Sorts the pairs by name, stably, so each name keeps its arrival order.
// The pairs themselves move, not indices to them, so a large body stays
// within the caches. Pairs already in order, or in strictly descending
// order, cost one pass (a form sends its fields in a fixed order).
void SortByName(std::string_view buffer, std::vector<TPair>& pairs) {
    const auto less = [buffer](const TPair& a, const TPair& b) { return CompareNames(buffer, a, b) < 0; };
    if (std::is_sorted(pairs.begin(), pairs.end(), less)) return;
    if (std::adjacent_find(pairs.begin(), pairs.end(), [&](const TPair& a, const TPair& b) { return !less(b, a); }) ==
        pairs.end()) {
        std::reverse(pairs.begin(), pairs.end());
        return;
    }
    std::stable_sort(pairs.begin(), pairs.end(), less);
}

// The taken pairs in arrival order; values decoded into values.
std::vector<TPair> CollectPairs(std::string_view buffer, std::string& values) {
    std::vector<TPair> pairs;
    const std::size_t end = std::min(buffer.find('\0'), buffer.size());
    pairs.reserve(static_cast<std::size_t>(std::count(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(end), '&')));
    values.reserve(end);
    std::size_t pairStart = 0;
    std::size_t firstCut = std::string_view::npos;  // the first "=" of the pair
    std::size_t lastEqual = std::string_view::npos; // the most recent "=" of the pair
    for (std::size_t i = 0; i < end; ++i) {
        if (buffer[i] == '=') {
            if (firstCut == std::string_view::npos) firstCut = i;
            lastEqual = i;
        } else if (buffer[i] == '&') {
            // An empty name (the pair starts with "=") or no "=" skips the pair.
            if (lastEqual != std::string_view::npos && firstCut > pairStart) {
                const std::size_t at = values.size();
                AppendDecoded(values, buffer.substr(lastEqual + 1, i - lastEqual - 1));
                const std::string_view name = buffer.substr(pairStart, firstCut - pairStart);
                pairs.push_back({NameKey(name), static_cast<std::uint32_t>(pairStart),
                                 static_cast<std::uint32_t>(name.size()), static_cast<std::uint32_t>(at),
                                 static_cast<std::uint32_t>(values.size() - at)});
            }
            pairStart = i + 1;
            firstCut = lastEqual = std::string_view::npos;
        }
    }
    return pairs;
}

// Where each name already has its line: the first line so named, found
// once per name (by binary search in a sorted list, through one index of
// the names in an unsorted one).
class TNameIndex {
public:
    explicit TNameIndex(const TStringList& list) : list_(list) {
        if (list.Sorted) return;
        for (int i = 0; i < list.Count(); ++i) {
            const std::string& line = list[i];
            const std::size_t eq = line.find('=');
            if (eq != std::string::npos) first_.emplace(LowerCase(std::string_view(line).substr(0, eq)), i);
        }
    }
    int Find(std::string_view name) const {
        if (list_.Sorted) return FindNameSorted(list_, name);
        const auto it = first_.find(LowerCase(name));
        return it == first_.end() ? -1 : it->second;
    }

private:
    const TStringList& list_;
    std::map<std::string, int> first_;  // emplace keeps the first index of a name
};
}  // namespace

bool IsHexDigit(char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f');
}


std::string UrlDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendDecoded(out, text);
    return out;
}

// Collect the pairs, sort them by name once (stably, so each name keeps its
// arrival order), join each name's values once. The list ends exactly as if
// each pair had been added in turn, joined onto the line of its name: the
// line takes the name as last sent, and in an unsorted list it moves to the
// end in the order of each name's last pair.
void ParseUrlEncoded(TStringList& list, std::string_view buffer) {
    std::string values;
    std::vector<TPair> pairs = CollectPairs(buffer, values);
    if (pairs.empty()) return;
    SortByName(buffer, pairs);
    const TNameIndex index(list);
    std::vector<int> replaced;
    std::vector<std::string> added;
    std::vector<std::uint32_t> arrival;  // of each line's last pair
    for (std::size_t first = 0; first < pairs.size();) {
        std::size_t past = first + 1;
        while (past < pairs.size() && CompareNames(buffer, pairs[past], pairs[first]) == 0) ++past;
        const TPair& last = pairs[past - 1];
        const std::string_view name = buffer.substr(last.NameAt, last.NameLength);
        std::string& line = added.emplace_back(name);
        line += '=';
        const int old = index.Find(name);
        if (old >= 0) {
            line += list.ValueFromIndex(old);
            line += "\r\n";
            replaced.push_back(old);
        }
        for (std::size_t i = first; i < past; ++i) {
            if (i > first) line += "\r\n";
            line.append(values, pairs[i].ValueAt, pairs[i].ValueLength);
        }
        arrival.push_back(last.NameAt);
        first = past;
    }
    // A sorted list orders the lines itself; an unsorted one takes them in
    // the order of each name's last pair.
    if (!list.Sorted) {
        std::vector<std::size_t> order(added.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return arrival[a] < arrival[b]; });
        std::vector<std::string> inOrder;
        inOrder.reserve(added.size());
        for (const std::size_t i : order) inOrder.push_back(std::move(added[i]));
        added = std::move(inOrder);
    }
    list.Merge(std::move(replaced), std::move(added));
}

std::string UrlEncode(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        const auto byte = static_cast<unsigned char>(ch);
        if (ch == ' ') {
            out += '+';
        } else if (ch == '.' || ch == '/' || ch == '\\' || (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'Z') ||
                   (ch >= 'a' && ch <= 'z')) {
            out += ch;
        } else {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 15];
        }
    }
    return out;
}

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char ch : text) {
        switch (ch) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += ch;
        }
    }
    return out;
}

namespace {
// Base64 digit value; "=" counts as 0 and any other byte as nothing, though
// it still fills its place in the group of four.
bool Base64Value(char ch, std::uint32_t& value) {
    if (ch >= 'A' && ch <= 'Z') value = static_cast<std::uint32_t>(ch - 'A');
    else if (ch >= 'a' && ch <= 'z') value = static_cast<std::uint32_t>(ch - 'a' + 26);
    else if (ch >= '0' && ch <= '9') value = static_cast<std::uint32_t>(ch - '0' + 52);
    else if (ch == '+') value = 62;
    else if (ch == '/') value = 63;
    else if (ch == '=') value = 0;
    else return false;
    return true;
}

constexpr std::size_t CredentialLimit = 1032;
}  // namespace

void DecodeBasicAuth(std::string_view authorization, std::string& user, std::string& password) {
    const std::size_t blank = authorization.find(' ');
    if (blank != std::string_view::npos) authorization = authorization.substr(blank + 1, CredentialLimit);
    std::string decoded;
    std::uint32_t accumulator = 0;
    int inGroup = 0;
    for (const char ch : authorization) {
        std::uint32_t value = 0;
        if (Base64Value(ch, value)) accumulator = accumulator * 64 + value;
        if (++inGroup < 4) continue;
        decoded += static_cast<char>((accumulator >> 16) & 0xFF);
        decoded += static_cast<char>((accumulator >> 8) & 0xFF);
        decoded += static_cast<char>(accumulator & 0xFF);
        accumulator = 0;
        inGroup = 0;
    }
    const std::size_t colon = decoded.find(':');
    if (colon == std::string::npos) return;
    user = Trim(std::string_view(decoded).substr(0, colon));
    password = Trim(std::string_view(decoded).substr(colon + 1, CredentialLimit));
}
