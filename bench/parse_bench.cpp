// Parse time of URL-encoded bodies of the shapes a hostile client would
// send: one name repeated, distinct names in ascending, descending and
// shuffled order; at 64 KiB and 1 MiB, with the growth ratio (linear is 16,
// n log n about 21). Then the same for the other readers of outside input
// (ALL_HTTP block, Windows CGI data file, resident-server request header,
// mail-server reply lines). Prints figures; asserts nothing.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include <functional>
#include <memory>

#include "gateway/frontends/CGIWEngData.h"
#include "gateway/engine/Helpers.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/frontends/IsapiEng.h"
#include "gateway/servermode/ServerModeRequest.h"
#include "gateway/engine/UrlEncoded.h"
#include "net/SmtpReply.h"
#include "platform/Streams.h"
#include "platform/StringList.h"

namespace {

using Clock = std::chrono::steady_clock;

// A body of about size bytes, each pair ended by "&".
std::string Body(const char* shape, std::size_t size) {
    std::string body;
    body.reserve(size + 16);
    const std::string kind = shape;
    const std::size_t pairs = size / 10;
    char name[32];
    for (std::size_t i = 0; body.size() < size; ++i) {
        if (kind == "repeated") {
            body += "a=&";
            continue;
        }
        // A fixed odd multiplier modulo a power of two visits every number once.
        const std::size_t n = kind == "ascending" ? i : kind == "descending" ? pairs - i : (i * 2654435761u) % (1u << 24);
        std::snprintf(name, sizeof name, "%07zu=&", n);
        body += name;
    }
    return body;
}

// Lines of about size bytes in all: prefix, a 7-digit number, suffix; the
// numbers repeated (always 1), ascending or descending.
std::string Lines(const char* shape, std::size_t size, const char* prefix, const char* suffix) {
    std::string text;
    const std::string kind = shape;
    const std::size_t lines = size / (std::char_traits<char>::length(prefix) + 7 + std::char_traits<char>::length(suffix));
    char number[16];
    for (std::size_t i = 0; text.size() < size; ++i) {
        const std::size_t n = kind == "repeated" ? 1 : kind == "ascending" ? i : lines - i;
        std::snprintf(number, sizeof number, "%07zu", n);
        text += prefix;
        text += number;
        text += suffix;
    }
    return text;
}

// Best of 15 runs of read(text), in milliseconds; one run when it takes over a second.
double ReadMs(const std::function<void(const std::string&)>& read, const std::string& text) {
    double best = 1e300;
    for (int run = 0; run < 15; ++run) {
        const auto start = Clock::now();
        read(text);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        best = std::min(best, ms);
        if (ms > 1000) break;
    }
    return best;
}

void ReadAllHttp(const std::string& text) {
    TStringList list(/*sorted=*/true);
    list.Duplicates = TDuplicates::dupAccept;
    AddIsapiVariables(list, SplitAllHttp(text));
}

void ReadWinCgiData(const std::string& text) {
    TMemoryStream data;
    data.Write(text.data(), static_cast<int>(text.size()));
    data.SetPosition(0);
    TStringList variables(/*sorted=*/true);
    TWinCgiForm form;
    ParseWinCgiData(data, variables, form, [](const std::string&, std::int32_t, std::string&) { return false; });
}

void ReadRequestFile(const std::string& text) {
    TMemoryStream input;
    input.Write(text.data(), static_cast<int>(text.size()));
    input.SetPosition(0);
    std::string header;
    if (ReadRequestHeader(input, header)) TextToStringList(header);
}

// In pieces of 1460 bytes (one TCP segment), every line taken as it completes.
void ReadSmtpReply(const std::string& text) {
    TLineBuffer received;
    std::string line;
    for (std::size_t at = 0; at < text.size(); at += 1460) {
        received.Append(text.data() + at, std::min<std::size_t>(1460, text.size() - at));
        while (received.TakeLine(line)) {
        }
    }
}

// Best of 15 runs, in milliseconds (the machine may be busy); one run when
// it takes over a second.
double ParseMs(const std::string& body) {
    double best = 1e300;
    for (int run = 0; run < 15; ++run) {
        TStringList fields(/*sorted=*/true);
        const auto start = Clock::now();
        ParseUrlEncoded(fields, body);
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        best = std::min(best, ms);
        if (ms > 1000) break;
    }
    return best;
}

}  // namespace

int main() {
    std::printf("%-22s %12s %12s %8s\n", "body shape", "64 KiB ms", "1 MiB ms", "growth");
    for (const char* shape : {"repeated", "ascending", "descending", "shuffled"}) {
        const double small = ParseMs(Body(shape, 64 * 1024));
        const double large = ParseMs(Body(shape, 1024 * 1024));
        std::printf("%-22s %12.3f %12.3f %7.1fx\n", shape, small, large, small > 0 ? large / small : 0.0);
    }
    struct TReader {
        const char* name;
        void (*read)(const std::string&);
        const char* prefix;
        const char* suffix;
        const char* end;
    };
    const TReader readers[] = {
        {"ALL_HTTP", ReadAllHttp, "HTTP_X", ":v\n", ""},
        {"Windows CGI data", ReadWinCgiData, "X", "=v\r", ""},
        {"request file", ReadRequestFile, "HTTP_X", "=v\r\n", "\r\n"},
        {"SMTP reply", ReadSmtpReply, "250-", "\n", "250 end\n"},
    };
    std::printf("\n%-17s %-10s %12s %12s %8s\n", "reader", "lines", "64 KiB ms", "1 MiB ms", "growth");
    for (const TReader& reader : readers) {
        for (const char* shape : {"repeated", "ascending", "descending"}) {
            const std::string head = std::string(reader.name) == "Windows CGI data" ? "[CGI]\r" : "";
            const double small = ReadMs(reader.read, head + Lines(shape, 64 * 1024, reader.prefix, reader.suffix) + reader.end);
            const double large = ReadMs(reader.read, head + Lines(shape, 1024 * 1024, reader.prefix, reader.suffix) + reader.end);
            std::printf("%-17s %-10s %12.3f %12.3f %7.1fx\n", reader.name, shape, small, large,
                        small > 0 ? large / small : 0.0);
        }
    }
    return 0;
}
