#include "platform/SysUtils.h"

#include <cctype>
#include <charconv>

namespace {
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }
}  // namespace

std::string UpperCase(std::string_view text) {
    std::string out(text);
    for (auto& c : out) c = Upper(c);
    return out;
}

std::string LowerCase(std::string_view text) {
    std::string out(text);
    for (auto& c : out) c = Lower(c);
    return out;
}

std::string TrimLeft(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    return std::string(text.substr(i));
}

std::string TrimRight(std::string_view text) {
    std::size_t n = text.size();
    while (n > 0 && IsBlank(text[n - 1])) --n;
    return std::string(text.substr(0, n));
}

std::string Trim(std::string_view text) { return TrimLeft(TrimRight(text)); }

int CompareText(std::string_view a, std::string_view b) {
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto ca = static_cast<unsigned char>(Lower(a[i]));
        const auto cb = static_cast<unsigned char>(Lower(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool SameText(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CompareText(a, b) == 0;
}

std::string IntToStr(std::int64_t value) { return std::to_string(value); }

bool TryStrToInt(std::string_view text, std::int32_t& value) {
    std::string t = Trim(text);
    std::string_view v = t;
    if (!v.empty() && v[0] == '+') {
        v.remove_prefix(1);
        if (!v.empty() && v[0] == '-') return false;  // one sign only
    }
    if (v.empty()) return false;
    std::int32_t result = 0;
    auto [ptr, ec] = std::from_chars(v.data(), v.data() + v.size(), result);
    if (ec != std::errc() || ptr != v.data() + v.size()) return false;
    value = result;
    return true;
}

std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback) {
    std::int32_t value = 0;
    return TryStrToInt(text, value) ? value : fallback;
}

std::size_t Pos(std::string_view sub, std::string_view text) {
    if (sub.empty()) return 0;
    auto at = text.find(sub);
    return at == std::string_view::npos ? 0 : at + 1;
}

bool StartsText(std::string_view prefix, std::string_view text) {
    return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

bool ContainsText(std::string_view text, std::string_view sub) {
    return UpperCase(text).find(UpperCase(sub)) != std::string::npos;
}
