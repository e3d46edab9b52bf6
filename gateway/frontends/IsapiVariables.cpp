// The server variables of an in-process request: single variables asked of
// the server, the ALL_HTTP block split into header entries, and the list
// handed to ProcessRequest.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

#include "gateway/engine/Limits.h"
#include "gateway/frontends/IsapiEng.h"
#include "platform/SysUtils.h"

namespace {
// Asked of the server for every request, in this order; an empty answer is
// listed too.
constexpr std::array<const char*, 14> FetchedNames = {
    "CONTENT_TYPE",    "REMOTE_ADDR", "REMOTE_HOST", "REMOTE_USER",        "UNMAPPED_REMOTE_USER",
    "SCRIPT_NAME",     "SERVER_NAME", "SERVER_PORT", "SERVER_PORT_SECURE", "SERVER_PROTOCOL",
    "SERVER_SOFTWARE", "HTTP_ACCEPT", "URL",         "ALL_HTTP",
};

// One GetServerVariable call offering buffer.size() - 1 bytes; size is what
// the server reported. False without a callback to ask.
bool AskServer(const std::string& name, std::vector<char>& buffer, ISAPI_DWORD& size) {
    std::string asked = name;  // the interface takes a writable name
    size = static_cast<ISAPI_DWORD>(buffer.size() - 1);
    if (EXTENSION_CONTROL_BLOCK* ecb = IsapiThread.Ecb) {
        if (ecb->GetServerVariable == nullptr) return false;
        return ecb->GetServerVariable(ecb->ConnID, asked.data(), buffer.data(), &size) != ISAPI_FALSE;
    }
    if (THTTP_FILTER_CONTEXT* pfc = IsapiThread.FilterContext) {
        if (pfc->GetServerVariable == nullptr) return false;
        return pfc->GetServerVariable(pfc, asked.data(), buffer.data(), &size) != ISAPI_FALSE;
    }
    return false;
}
}  // namespace

// Bounds: the buffer starts at 512 bytes (511 offered) and grows by 512 while
// the value fills it to within 2 bytes, up to 1 MiB; a value still filling
// the largest buffer is returned as far as it came. A server that refuses a
// value for want of room and reports the size it needs (the interface's
// convention) is asked once more with room for that size, within 1 MiB;
// otherwise a refusal yields "". A reported size beyond the buffer offered
// is not believed: the text ends at the first NUL within the buffer.
std::string FetchIsapiVariable(const std::string& name) {
    if (IsapiThread.Ecb == nullptr && IsapiThread.FilterContext == nullptr) return {};
    std::size_t bufferSize = IsapiLimits::VariableBufferStart;
    for (;;) {
        std::vector<char> buffer(bufferSize, '\0');
        const std::size_t offered = bufferSize - 1;
        ISAPI_DWORD size = 0;
        const bool answered = AskServer(name, buffer, size);
        std::string value;
        if (answered && size > 0) {
            const std::size_t reported = std::min<std::size_t>(size, offered);
            value = Trim(std::string_view(buffer.data(), strnlen(buffer.data(), reported)));
        } else if (!answered && size > offered &&
                   static_cast<std::size_t>(size) + 2 <= IsapiLimits::VariableBufferMax) {
            // One byte more than needed, so the value does not count as filling it.
            bufferSize = static_cast<std::size_t>(size) + 2;
            continue;
        }
        if (value.size() + 2 < bufferSize || bufferSize >= IsapiLimits::VariableBufferMax) return value;
        bufferSize = std::min(bufferSize + IsapiLimits::VariableBufferStep, IsapiLimits::VariableBufferMax);
    }
}

std::vector<std::string> SplitAllHttp(std::string_view allHttp) {
    std::vector<std::string> entries;
    std::string text(allHttp);
    text += '\n';
    // The text always ends with the "\n" added above, so every pass finds one.
    std::size_t at = 0;
    while (text.size() - at > 2) {
        const std::size_t end = text.find('\n', at);
        std::string line = text.substr(at, end - at);
        std::size_t separator = line.find(':');
        if (separator == std::string::npos) separator = line.find('=');
        if (separator != std::string::npos) {
            line[separator] = '=';
            entries.push_back(Trim(line));
        }
        at = end + 1;
    }
    return entries;
}

void AddIsapiVariables(TStringList& list, std::vector<std::string> entries) {
    std::vector<std::string> present = list.Lines();
    std::sort(present.begin(), present.end());
    // Entries in byte order, the first arrival of each text first.
    std::vector<std::size_t> order(entries.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return entries[a] < entries[b]; });
    std::vector<bool> dropped(entries.size(), false);
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::string& entry = entries[order[k]];
        dropped[order[k]] = (k > 0 && entries[order[k - 1]] == entry) ||
                            std::binary_search(present.begin(), present.end(), entry);
    }
    std::vector<std::string> added;
    added.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (!dropped[i]) added.push_back(std::move(entries[i]));
    list.Merge({}, std::move(added));
}

namespace {
void AddField(std::vector<std::string>& entries, const char* name, const char* value) {
    if (value != nullptr) entries.push_back(std::string(name) + "=" + value);
}
}  // namespace

TStringList* BuildIsapiVariables() {
    // The control block's own fields first.
    auto list = std::make_unique<TStringList>(/*sorted=*/true);
    list->Duplicates = TDuplicates::dupAccept;
    const EXTENSION_CONTROL_BLOCK* ecb = IsapiThread.Ecb;
    if (ecb == nullptr) return list.release();
    // The query string and the other fields the block carries.
    std::vector<std::string> entries;
    AddField(entries, "QUERY_STRING", ecb->lpszQueryString);
    AddField(entries, "REQUEST_METHOD", ecb->lpszMethod);
    AddField(entries, "PATH_INFO", ecb->lpszPathInfo);
    AddField(entries, "PATH_TRANSLATED", ecb->lpszPathTranslated);
    entries.push_back("CONTENT_LENGTH=" + std::to_string(ecb->cbTotalBytes));
    // The variables the server answers by name.
    for (const char* name : FetchedNames) entries.push_back(std::string(name) + "=" + FetchIsapiVariable(name));
    // Each request header of ALL_HTTP as its own variable.
    for (std::string& entry : SplitAllHttp(FetchIsapiVariable("ALL_HTTP"))) entries.push_back(std::move(entry));
    AddIsapiVariables(*list, std::move(entries));
    return list.release();
}
