#pragma once
// Runs the program's whole main sequence in a forked child, as a web server
// runs the CGI program: a site folder holding the program path, a controlled
// environment, the body on standard input and the answer read back from
// standard output.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "tests/app/music_test_site.h"

// A music site whose program is "playlist.cgi" in the program folder, with a
// folder beside that for the child's standard streams and the gateway log.
class TSite : public TMusicSite {
public:
    TSite() { std::filesystem::create_directory(Io()); }
    std::string Path(const std::string& name) const { return ProgramFolderOs() + "/" + name; }
    std::string Io() const { return ProgramFolderOs() + "-io"; }
};

struct TRequest {
    std::string Method = "GET";
    std::string Query;
    std::string Body;  // sent url-encoded with its CONTENT_LENGTH
    std::vector<std::pair<std::string, std::string>> Extra;  // more variables
};

// A GET with this query, and a POST with this body.
inline TRequest Get(const std::string& query) {
    TRequest request;
    request.Query = query;
    return request;
}
inline TRequest Post(const std::string& body) {
    TRequest request;
    request.Method = "POST";
    request.Body = body;
    return request;
}

struct TAnswer {
    bool Exited = false;  // false: killed, or it outlived its deadline
    int ExitCode = -1;
    std::string Output;
    // The part after the header block's empty line.
    std::string Body() const;
};

// Waits at most 30 s for the child.
TAnswer Serve(const TSite& site, const TRequest& request);
