#pragma once
// The one exception family of the system: every failure the program raises
// on purpose carries a message text and derives from Exception. The engine
// catches this family once per request; anything else is not handled there.
#include <stdexcept>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }
    std::string Message;
};

// A file or folder operation that failed; the message names the file.
class EFileError : public Exception {
public:
    using Exception::Exception;
};
