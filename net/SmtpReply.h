#pragma once
// Reading an SMTP server's reply lines: pure functions over one line as it
// came from the socket (line feed included).
#include <cstdint>
#include <string>
#include <string_view>

// Takes the first complete line (up to and including its line feed) from the
// front of received. The search stops at the first NUL byte: a line feed
// behind one is not found, and false is returned with received unchanged.
bool TakeLine(std::string& received, std::string& line);

// The number at the start of a reply: its leading decimal digits, at most 10
// of them. 0 when there are none, and when they do not form a 16-bit number
// (a wrapped value could pass for a success code).
std::int16_t ParseReplyNumber(std::string_view line);

// A line that another line follows in the same reply: its first character
// is a blank, or its fourth is "-" ("250-first").
bool IsContinuationLine(std::string_view line);
