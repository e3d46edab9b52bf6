#pragma once
// Reading a Windows CGI data file: bytes in sections of key=value lines,
// each line ended by CR. Pure functions over a stream; the one outside
// access (the files that FORM_EXTERNAL entries name) goes through a reader
// the caller supplies.
//
// Bounds: a line holds at most MaxDataLine - 1 bytes before its CR; a line
// that reaches MaxDataLine bytes ends the reading, as does a last line
// without CR (neither is used). A FORM_EXTERNAL length is a claim: the value
// is what the file delivers, at most that many bytes.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class TStream;
class TStringList;

constexpr std::size_t MaxDataLine = 16383;

// Reads single bytes until a CR, the end of the data or MaxDataLine bytes.
// line receives the bytes without the CR and without leading blanks and
// control characters. True only when the line ended with a CR.
[[nodiscard]] bool ReadDataLine(TStream& stream, std::string& line);

// Key and value := empty. A line "[" ... "]" sets section to the text
// between the brackets, trimmed, upper-cased, blanks made "_" (a "[" line
// without "]" changes nothing). Any other line with "=" yields the trimmed
// text before the first "=" as key and the trimmed rest as value.
void ParseDataLine(std::string_view line, std::string& section, std::string& key, std::string& value);

// Reads length bytes at most of a FORM_EXTERNAL file; false when the file
// cannot be opened (the entry is then skipped).
using TExternalFieldReader = std::function<bool(const std::string& path, std::int32_t length, std::string& bytes)>;

// What the data file's sections add beside the variables.
struct TWinCgiForm {
    bool HasContent = false;           // a FORM_LITERAL or FORM_EXTERNAL entry was used
    std::string Content;               // key=UrlEncode(value)& ... as a URL-encoded body
    std::vector<std::string> Accepted; // ACCEPT keys whose value is "Yes", in file order
};

// Reads every CR-ended line from data and acts on it by section: CGI, SYSTEM
// and EXTRA_HEADERS add key=value to variables (blanks in the key made "_");
// ACCEPT collects types; FORM_LITERAL and FORM_EXTERNAL build the form
// content. Afterwards, when any type was accepted, adds HTTP_ACCEPT with the
// types joined by ",".
void ParseWinCgiData(TStream& data, TStringList& variables, TWinCgiForm& form,
                     const TExternalFieldReader& readExternal);

// Reads a file through the file layer in pieces of at most 2048 bytes.
bool ReadExternalFieldFile(const std::string& path, std::int32_t length, std::string& bytes);
