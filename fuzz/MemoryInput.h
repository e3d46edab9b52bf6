#pragma once
// A memory stream that holds the given bytes and stands at their start,
// where a parser that reads from a stream begins.
#include <string>

#include "platform/Streams.h"

class TMemoryInput : public TMemoryStream {
public:
    explicit TMemoryInput(const std::string& bytes) {
        WriteString(bytes);
        SetPosition(0);
    }
};
