#pragma once
// Reading an SMTP server's reply lines: pure functions over one line as it
// came from the socket (line feed included).
#include <cstdint>
#include <string>
#include <string_view>

// Bytes received and not yet taken as lines. Taking a line costs about its
// own length, however many bytes wait behind it or arrive in small pieces:
// taken bytes leave the front only once they are half the buffer, and a
// search goes on where the last one stopped.
class TLineBuffer {
public:
    void Append(const char* bytes, std::size_t count) { bytes_.append(bytes, count); }
    void Clear();
    // Takes the first complete line (up to and including its line feed). The
    // search stops at the first NUL byte: a line feed behind one is not
    // found, and false is returned with the buffer unchanged.
    bool TakeLine(std::string& line);
    // The bytes not taken yet.
    std::string_view Rest() const { return std::string_view(bytes_).substr(taken_); }

private:
    std::string bytes_;
    std::size_t taken_ = 0;    // bytes at the front already taken
    std::size_t searched_ = 0; // bytes after those known to hold no line feed and no NUL
};

// The number at the start of a reply: its leading decimal digits, at most 10
// of them. 0 when there are none, and when they do not form a 16-bit number
// (a wrapped value could pass for a success code).
std::int16_t ParseReplyNumber(std::string_view line);

// A line that another line follows in the same reply: its first character
// is a blank, or its fourth is "-" ("250-first").
bool IsContinuationLine(std::string_view line);
