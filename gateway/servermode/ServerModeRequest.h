#pragma once
// The request file's bytes, as pure functions: composed by the client side,
// read back by the resident server. No I/O beyond the streams given.
#include <cstdint>
#include <string>
#include <string_view>

class TStream;
class TStringList;

// Every entry in list order followed by CR LF, then one CR LF.
std::string ComposeRequestHeader(const TStringList& variables);

// True when every entry can stand as one line of the header block: not
// empty, no CR and no LF. A request with any other entry is not handed over
// (the server would read other variables than the client holds).
[[nodiscard]] bool FramesSafely(const TStringList& variables);

// CONTENT_LENGTH of the list (name looked up ignoring case) as a count;
// 0 when absent, not a number or negative.
std::int32_t RequestContentLength(const TStringList& variables);

// Address part of a client id: REMOTE_ADDR, or REMOTE_ADDRESS when that is
// empty, with "." replaced by "-".
std::string ClientAddress(const TStringList& variables);
// prefix-less id: address + "_" + number in upper-case hexadecimal with at
// least five digits.
std::string FormatClientId(std::string_view address, std::uint32_t number);

// Bound on the header block the server reads: a claimed file whose first
// MaxRequestHeader bytes hold no CR LF CR LF is not served.
constexpr std::size_t MaxRequestHeader = 16 * 1024 * 1024;

// Reads input from its position in blocks of 512 bytes until the text holds
// CR LF CR LF or a read returns no bytes. On success header receives the
// text before the terminator and input is positioned just behind it. False
// when the terminator is missing, stands at the very start, or lies beyond
// MaxRequestHeader; input's position is then unspecified.
[[nodiscard]] bool ReadRequestHeader(TStream& input, std::string& header);
