#pragma once
// Runs the program's whole main sequence in a forked child, as a web server
// runs the CGI program: a site folder holding the program path, a controlled
// environment, the body on standard input and the answer read back from
// standard output.
#include <string>
#include <utility>
#include <vector>

// A temporary site folder; the program is "playlist.cgi" in it. Removed
// with the object.
class TSite {
public:
    TSite();
    ~TSite();
    TSite(const TSite&) = delete;
    TSite& operator=(const TSite&) = delete;

    std::string Path(const std::string& name) const { return Folder + "/" + name; }
    void Put(const std::string& name, const std::string& content) const;
    std::string Get(const std::string& name) const;
    bool Has(const std::string& name) const;

    std::string Folder;  // OS form
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
