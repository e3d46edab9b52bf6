#include "host/ResponseFilter.h"

namespace {
bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
        if (c != prefix[i]) return false;
    }
    return true;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

// Where the header block ends (just past its empty line), or npos.
std::size_t HeadEnd(const std::string& head) {
    const std::size_t crlf = head.find("\r\n\r\n");
    const std::size_t lf = head.find("\n\n");
    if (crlf == std::string::npos && lf == std::string::npos) return std::string::npos;
    if (lf == std::string::npos || (crlf != std::string::npos && crlf < lf)) return crlf + 4;
    return lf + 2;
}
}  // namespace

bool TResponseFilter::Send(std::string_view data) {
    if (failed_) return false;
    if (data.empty()) return true;
    if (!sink_(data)) failed_ = true;
    return !failed_;
}

bool TResponseFilter::Write(std::string_view data) {
    written_ += data.size();
    if (headSent_) return Send(data);
    head_.append(data);
    if (HeadEnd(head_) == std::string::npos && head_.size() <= MaxHeaderBlock) return !failed_;
    return EmitHead();
}

bool TResponseFilter::Redirect(std::string_view url) {
    if (headSent_ || url.empty() || url.size() > MaxLocation) return false;
    for (const char c : url)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
    location_ = url;
    return true;
}

// The status line becomes a Status header ("HTTP/1." alone gives none: the
// server's default 200 stands); a redirect replaces whatever status the
// extension gave.
std::string TResponseFilter::RewrittenHead() const {
    std::size_t lineEnd = head_.find('\n');
    if (lineEnd == std::string::npos) lineEnd = head_.size();
    const std::string_view first(head_.data(), lineEnd);
    const std::string_view rest = lineEnd < head_.size() ? std::string_view(head_).substr(lineEnd + 1) : "";
    const bool statusLine = StartsWithIgnoringCase(first, "HTTP/");
    std::string out;
    if (!location_.empty()) {
        out = "Status: 302 Object Moved\r\nLocation: " + location_ + "\r\n";
        if (!statusLine && !StartsWithIgnoringCase(first, "STATUS:")) out.append(head_, 0, lineEnd + 1);
    } else if (statusLine) {
        const std::size_t blank = first.find(' ');
        const std::string_view status = blank == std::string_view::npos ? "" : Trimmed(first.substr(blank + 1));
        if (!status.empty()) out = "Status: " + std::string(status) + "\r\n";
    } else {
        return head_;
    }
    out.append(rest);
    return out;
}

bool TResponseFilter::EmitHead() {
    headSent_ = true;
    const std::string head = RewrittenHead();
    head_.clear();
    return Send(head);
}

void TResponseFilter::Finish(bool failed) {
    if (headSent_) return;
    if (head_.empty() && location_.empty() && failed) {
        headSent_ = true;
        Send("Status: 500 Internal Server Error\r\nContent-Type: text/plain\r\n\r\nThe extension failed.\r\n");
        return;
    }
    if (HeadEnd(head_) == std::string::npos) {
        if (!head_.empty() && head_.back() != '\n') head_ += "\r\n";
        head_ += "\r\n";
    }
    EmitHead();
}
