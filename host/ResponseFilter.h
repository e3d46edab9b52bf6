#pragma once
// What the extension writes, on its way to the web server. The extension
// writes a whole HTTP header block, whose first line is an "HTTP/1.x NNN
// text" status line; a FastCGI responder must say "Status: NNN text"
// instead. The header block is held back until its empty line (or a bound),
// so a redirect the extension asks for while it sends its headers can still
// become the response's status.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

class TResponseFilter {
public:
    // The sink takes bytes for the web server; false when they could not be
    // sent (the connection is gone), after which nothing more is sent.
    using TSink = std::function<bool(std::string_view)>;
    explicit TResponseFilter(TSink sink) : sink_(std::move(sink)) {}

    // A header block longer than this is passed on as it stands.
    static constexpr std::size_t MaxHeaderBlock = 64 * 1024;
    // The longest redirect target accepted.
    static constexpr std::size_t MaxLocation = 4096;

    bool Write(std::string_view data);
    // Makes the response a 302 to url. False when the header block has
    // already gone out, or the url is empty, too long or holds a line break
    // or another control character (it would end the header line).
    bool Redirect(std::string_view url);
    // Sends what is held back. An extension that wrote nothing gets its
    // redirect, or, when it failed, a 500 page; a header block without its
    // empty line is ended.
    void Finish(bool failed);

    bool Failed() const { return failed_; }
    std::size_t BytesWritten() const { return written_; }

private:
    bool Send(std::string_view data);
    bool EmitHead();
    std::string RewrittenHead() const;

    TSink sink_;
    std::string head_;
    std::string location_;
    bool headSent_ = false;
    bool failed_ = false;
    std::size_t written_ = 0;  // bytes the extension handed over
};
