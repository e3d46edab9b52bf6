#pragma once
// Byte-string helpers with the host's conventions: 8-bit text, ASCII case
// folding, decimal conversion without locale.
#include <cstdint>
#include <string>
#include <string_view>

std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
// Removes leading and trailing blanks and control characters (bytes <= 32).
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);
// Case-insensitive ordering of the string lists: < 0, 0 or > 0.
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);
std::string IntToStr(std::int64_t value);
// Decimal with optional sign and surrounding blanks; fallback when the text is
// not a number or does not fit in 32 bits.
[[nodiscard]] std::int32_t StrToIntDef(std::string_view text, std::int32_t fallback);
[[nodiscard]] bool TryStrToInt(std::string_view text, std::int32_t& value);
// 1-based position of sub in text, 0 when absent (the host's Pos).
std::size_t Pos(std::string_view sub, std::string_view text);
bool StartsText(std::string_view prefix, std::string_view text);
bool ContainsText(std::string_view text, std::string_view sub);
