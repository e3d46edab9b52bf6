#pragma once
// What a step raised, as text a test can compare.
#include <string>

#include "platform/Exception.h"

namespace support {

// Runs f and returns the message of the exception of type E it raised (""
// if none); an exception of another type goes on.
template <class E = Exception, class F>
std::string FailureOf(F f) {
    try {
        f();
    } catch (const E& e) {
        return e.Message;
    }
    return "";
}

}  // namespace support
