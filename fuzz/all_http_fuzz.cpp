// The ALL_HTTP split over arbitrary header blocks, checked against a plain
// rendering of the rule (cut the text line by line until 2 characters or
// fewer are left), and the variable list a request with that block gets:
// sorted, no entry twice, every header entry in it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gateway/frontends/IsapiEng.h"
#include "platform/StringList.h"
#include "platform/SysUtils.h"

namespace {
std::vector<std::string> ReferenceSplit(const std::string& block) {
    std::vector<std::string> entries;
    const std::string whole = block + "\n";
    std::string_view text = whole;
    while (text.size() > 2) {
        const std::size_t end = text.find('\n');
        std::string line(text.substr(0, end));
        std::size_t separator = line.find(':');
        if (separator == std::string::npos) separator = line.find('=');
        if (separator != std::string::npos) {
            line[separator] = '=';
            entries.push_back(Trim(line));
        }
        text.remove_prefix(end + 1);
    }
    return entries;
}

std::string allHttp;

ISAPI_BOOL AnswerVariable(HCONN, char* name, void* buffer, ISAPI_DWORD* size) {
    const std::string value = std::strcmp(name, "ALL_HTTP") == 0 ? allHttp : std::string();
    if (value.size() + 1 > *size) {
        *size = static_cast<ISAPI_DWORD>(value.size() + 1);
        return ISAPI_FALSE;
    }
    std::memcpy(buffer, value.c_str(), value.size() + 1);
    *size = static_cast<ISAPI_DWORD>(value.size() + 1);
    return ISAPI_TRUE;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string block(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> entries = SplitAllHttp(block);
    if (entries != ReferenceSplit(block)) __builtin_trap();
    for (const std::string& entry : entries) {
        if (entry.find('=') == std::string::npos || entry.find('\n') != std::string::npos) __builtin_trap();
        if (Trim(entry) != entry) __builtin_trap();
    }

    // The block as the server's ALL_HTTP (a NUL ends a server's text).
    allHttp = block.substr(0, block.find('\0'));
    EXTENSION_CONTROL_BLOCK ecb{};
    ecb.GetServerVariable = AnswerVariable;
    IsapiThread.Ecb = &ecb;
    std::unique_ptr<TStringList> list(BuildIsapiVariables());
    IsapiThread.Ecb = nullptr;
    for (int i = 1; i < list->Count(); ++i)
        if (CompareText((*list)[i - 1], (*list)[i]) > 0) __builtin_trap();
    std::vector<std::string> lines = list->Lines();
    std::sort(lines.begin(), lines.end());
    if (std::adjacent_find(lines.begin(), lines.end()) != lines.end()) __builtin_trap();
    // A block that fills the largest buffer offered comes back cut.
    if (allHttp.size() + 2 >= IsapiLimits::VariableBufferMax) return 0;
    for (const std::string& entry : SplitAllHttp(Trim(allHttp)))
        if (list->IndexOf(entry) < 0) __builtin_trap();
    return 0;
}
