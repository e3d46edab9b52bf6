// The form-field parser over arbitrary bytes: every field is Name=Value with
// a non-empty name free of "=" and "&"; a sorted and an unsorted list end up
// with the same fields (the sorted one finds names by binary search); and
// decoding an encoded text gives it back.
#include <cstddef>
#include <cstdint>
#include <string>

#include "gateway/UrlEncoded.h"
#include "platform/StringList.h"

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
    return 0;
}
