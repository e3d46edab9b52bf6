#pragma once
// Runs page code as the handler of one request through a test front end:
// the fields go in as a URL-encoded POST body, the server variables as
// given, and the response body comes back as lines.
#include <functional>
#include <string>
#include <vector>

struct TPage {
    std::vector<std::string> Lines;  // the response body split at CR LF
    std::string ContentType;         // AutoContentType when the handler returned
    int HeaderSends = 0;             // header blocks sent while the handler ran
    std::string Error;               // message of an exception that left the handler
    std::vector<std::string> BeforeError;  // what the handler had written by then
};

// fields are Name=Value entries; variables NAME=value entries added to the
// POST request's own.
TPage RunRequest(const std::vector<std::string>& fields, const std::vector<std::string>& variables,
                 const std::function<void()>& action);
