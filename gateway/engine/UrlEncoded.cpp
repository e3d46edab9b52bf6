#include "gateway/engine/UrlEncoded.h"

#include <algorithm>
#include <cstdint>

#include "platform/SysUtils.h"

namespace {
int HexValue(char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
    return ch - 'a' + 10;
}

// Index of the first line of a sorted list named name (ignoring case), or
// -1. Every line so named begins with name + "=", and those lines sort as
// one block, so its start is the lower bound of name + "=".
int FindNameSorted(const TStringList& list, const std::string& name) {
    const std::string prefix = name + "=";
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

int FindName(const TStringList& list, const std::string& name) {
    return list.Sorted ? FindNameSorted(list, name) : list.IndexOfName(name);
}

void AddField(TStringList& list, const std::string& name, std::string value) {
    const int old = FindName(list, name);
    if (old >= 0) {
        value = list.ValueFromIndex(old) + "\r\n" + value;
        list.Delete(old);
    }
    list.Add(name + "=" + value);
}
}  // namespace

bool IsHexDigit(char ch) {
    return (ch >= '0' && ch <= '9') || (ch >= 'A' && ch <= 'F') || (ch >= 'a' && ch <= 'f');
}

std::string UrlDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
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
    return out;
}

void ParseUrlEncoded(TStringList& list, std::string_view buffer) {
    const std::size_t end = std::min(buffer.find('\0'), buffer.size());
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
                const std::string name(buffer.substr(pairStart, firstCut - pairStart));
                AddField(list, name, UrlDecode(buffer.substr(lastEqual + 1, i - lastEqual - 1)));
            }
            pairStart = i + 1;
            firstCut = lastEqual = std::string_view::npos;
        }
    }
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
