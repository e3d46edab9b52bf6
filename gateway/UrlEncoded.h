#pragma once
// Pure readers and writers of URL-encoded text and Basic credentials:
// functions over bytes in memory, no globals, no I/O.
#include <string>
#include <string_view>

#include "platform/StringList.h"

// Parses name=value pairs, each ended by "&", into list. The buffer ends at
// its end or at its first zero byte; text after the last "&" is ignored, so
// callers append "&". A pair without "=" or with an empty name is skipped;
// with several "=" the value is what follows the last one. Names are kept as
// sent, values are URL-decoded. A name already in the list (ignoring case)
// keeps every value, joined with CR LF in arrival order.
void ParseUrlEncoded(TStringList& list, std::string_view buffer);

// "%" and two hex digits give one byte, "+" a blank; any other "%" stays.
std::string UrlDecode(std::string_view text);
bool IsHexDigit(char ch);

// Blank to "+"; ".", "/", "\", digits and letters copied; every other byte
// as "%" and two upper-case hex digits.
std::string UrlEncode(std::string_view text);

// "&" to "&amp;", "<" to "&lt;", ">" to "&gt;", '"' to "&quot;"; every
// other byte copied as is.
std::string HtmlEscape(std::string_view text);

// Decodes "Scheme base64" credentials. With a ":" in the decoded text, user
// and password are the trimmed parts before and after the first ":";
// without one both are left unchanged.
void DecodeBasicAuth(std::string_view authorization, std::string& user, std::string& password);
