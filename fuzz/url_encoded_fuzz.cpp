// The form-field parser over arbitrary bytes: every field is Name=Value with
// a non-empty name free of "=" and "&"; a sorted and an unsorted list end up
// with the same fields (the sorted one finds names by binary search); the
// list, sorted or not, is exactly the one that adding one pair at a time
// gives; and decoding an encoded text gives it back. Read as a request (first line the
// query string, the rest the body, parsed body first as the engine does),
// every field holds the decoded values of its name's pairs, in arrival
// order, joined with CR LF.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "gateway/engine/UrlEncoded.h"
#include "platform/StringList.h"
#include "platform/SysUtils.h"

namespace {
void Check(bool condition) {
    if (!condition) __builtin_trap();
}

// Calls take(name, decoded value) for each pair the plain rule takes.
template <typename Take>
void ForEachPair(std::string_view buffer, Take take) {
    buffer = buffer.substr(0, buffer.find('\0'));
    std::size_t start = 0;
    for (std::size_t amp; (amp = buffer.find('&', start)) != std::string_view::npos; start = amp + 1) {
        const std::string_view pair = buffer.substr(start, amp - start);
        const std::size_t first = pair.find('=');
        if (first == std::string_view::npos || first == 0) continue;
        take(std::string(pair.substr(0, first)), UrlDecode(pair.substr(pair.rfind('=') + 1)));
    }
}

// Name (upper-cased) to the decoded values sent under it, in order; the
// spelling of the first arrival is kept.
struct TExpected {
    std::map<std::string, std::pair<std::string, std::vector<std::string>>> Fields;

    void Add(std::string_view buffer) {
        ForEachPair(buffer, [this](const std::string& name, std::string value) {
            auto& entry = Fields[UpperCase(name)];
            if (entry.second.empty()) entry.first = name;
            entry.second.push_back(std::move(value));
        });
    }
};

// Each pair in turn joined onto its name's line, the line deleted and the
// joined one added: the list the parser must give, at any cost.
void ParseOnePairAtATime(TStringList& list, std::string_view buffer) {
    ForEachPair(buffer, [&list](const std::string& name, std::string value) {
        const int old = list.IndexOfName(name);
        if (old >= 0) {
            value = list.ValueFromIndex(old) + "\r\n" + value;
            list.Delete(old);
        }
        list.Add(name + "=" + value);
    });
}

void CheckAgainstOnePairAtATime(const std::string& body, const std::string& query, bool sorted) {
    TStringList fields(sorted);
    TStringList expected(sorted);
    for (const std::string* part : {&body, &query}) {
        ParseUrlEncoded(fields, *part);
        ParseOnePairAtATime(expected, *part);
        Check(fields.Lines() == expected.Lines());
    }
}

// The checks by plain renderings cost the square of the input, so they look
// at inputs up to this size; the slow-input pass then times the parser alone.
constexpr std::size_t PlainCheckLimit = 4096;

void CheckRequestFields(const std::string& bytes) {
    const std::size_t cut = bytes.find('\n');
    const std::string query = bytes.substr(0, cut) + "&";
    const std::string body = (cut == std::string::npos ? std::string() : bytes.substr(cut + 1)) + "&";
    TStringList fields(/*sorted=*/true);
    ParseUrlEncoded(fields, body);
    ParseUrlEncoded(fields, query);
    CheckAgainstOnePairAtATime(body, query, /*sorted=*/true);
    CheckAgainstOnePairAtATime(body, query, /*sorted=*/false);
    TExpected expected;
    expected.Add(body);
    expected.Add(query);
    Check(static_cast<std::size_t>(fields.Count()) == expected.Fields.size());
    for (const auto& [key, entry] : expected.Fields) {
        std::string joined;
        for (std::size_t i = 0; i < entry.second.size(); ++i) joined += (i ? "\r\n" : "") + entry.second[i];
        const int index = fields.IndexOfName(entry.first);
        Check(index >= 0 && fields.ValueFromIndex(index) == joined);
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string buffer = bytes + "&";

    TStringList sorted(/*sorted=*/true);
    ParseUrlEncoded(sorted, buffer);
    std::size_t pairs = 0;
    for (char c : buffer.substr(0, buffer.find('\0')))
        if (c == '&') ++pairs;
    if (static_cast<std::size_t>(sorted.Count()) > pairs) __builtin_trap();
    for (const auto& line : sorted.Lines()) {
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos || eq == 0) __builtin_trap();
        if (line.substr(0, eq).find('&') != std::string::npos) __builtin_trap();
    }

    TStringList unsorted(/*sorted=*/false);
    ParseUrlEncoded(unsorted, buffer);
    unsorted.Sort();
    if (unsorted.Lines() != sorted.Lines()) __builtin_trap();

    if (UrlDecode(UrlEncode(bytes)) != bytes) __builtin_trap();
    if (size <= PlainCheckLimit) CheckRequestFields(bytes);
    return 0;
}
