#include "tests/gateway/frontends/isapi/fake_host.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/Process.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"

namespace isapitest {
namespace {
// The whole test program is a host process.
const bool inHost = (RunningAsLibrary = true);

TFakeConnection& Of(HCONN conn) { return *static_cast<TFakeConnection*>(conn); }

ISAPI_BOOL GetVariable(HCONN conn, char* name, void* buffer, ISAPI_DWORD* size) {
    TFakeConnection& c = Of(conn);
    c.VariableAsks.emplace_back(name, *size);
    if (c.VariableMode == TVariableMode::Refuse) return ISAPI_FALSE;
    auto* out = static_cast<char*>(buffer);
    if (c.VariableMode == TVariableMode::AlwaysFull) {
        std::memset(out, 'x', *size);
        return ISAPI_TRUE;
    }
    const auto found = c.Variables.find(name);
    if (found == c.Variables.end()) return ISAPI_FALSE;
    const std::string& value = found->second;
    if (c.VariableMode == TVariableMode::Truncate) {
        const std::size_t n = std::min<std::size_t>(value.size(), *size);
        std::memcpy(out, value.data(), n);
        *size = static_cast<ISAPI_DWORD>(n);
        return ISAPI_TRUE;
    }
    if (value.size() + 1 > *size) {
        *size = static_cast<ISAPI_DWORD>(value.size() + 1);
        return ISAPI_FALSE;
    }
    std::memcpy(out, value.c_str(), value.size() + 1);
    *size = c.VariableMode == TVariableMode::Overstate ? 0x7FFFFFFF : static_cast<ISAPI_DWORD>(value.size() + 1);
    return ISAPI_TRUE;
}

ISAPI_BOOL WriteClient(HCONN conn, void* buffer, ISAPI_DWORD* bytes, ISAPI_DWORD flags) {
    TFakeConnection& c = Of(conn);
    c.Writes.emplace_back(static_cast<const char*>(buffer), *bytes);
    c.WriteFlags.push_back(flags);
    if (c.WriteReports >= 0) *bytes = static_cast<ISAPI_DWORD>(c.WriteReports);
    return ISAPI_TRUE;
}

ISAPI_BOOL ReadClient(HCONN conn, void* buffer, ISAPI_DWORD* size) {
    TFakeConnection& c = Of(conn);
    c.ReadAsks.push_back(*size);
    const std::size_t at = c.Preloaded + c.BodyServed;
    if (at >= c.DisconnectAt) {
        *size = 0;
        return ISAPI_FALSE;
    }
    std::size_t n = std::min<std::size_t>(*size, c.Body.size() - std::min(at, c.Body.size()));
    if (c.PieceLimit != 0) n = std::min(n, c.PieceLimit);
    n = std::min(n, c.DisconnectAt - at);
    std::memcpy(buffer, c.Body.data() + at, n);
    c.BodyServed += n;
    *size = static_cast<ISAPI_DWORD>(n);
    return ISAPI_TRUE;
}

ISAPI_BOOL Support(HCONN conn, ISAPI_DWORD request, void* buffer, ISAPI_DWORD* size, ISAPI_DWORD*) {
    TFakeConnection& c = Of(conn);
    TSupportCall call;
    call.Request = request;
    if (buffer != nullptr) call.Text = static_cast<const char*>(buffer);
    if (size != nullptr) call.Size = *size;
    c.SupportCalls.push_back(call);
    return ISAPI_TRUE;
}

char* TextOrNull(std::string& text, bool null) { return null ? nullptr : text.data(); }

ISAPI_BOOL FilterVariable(HTTP_FILTER_CONTEXT* pfc, char* name, void* buffer, ISAPI_DWORD* size) {
    auto& filter = *static_cast<TFakeFilter*>(pfc->pFilterContext);
    filter.Asked.emplace_back(name);
    const auto found = filter.Variables.find(name);
    if (found == filter.Variables.end() || found->second.size() + 1 > *size) return ISAPI_FALSE;
    std::memcpy(buffer, found->second.c_str(), found->second.size() + 1);
    *size = static_cast<ISAPI_DWORD>(found->second.size() + 1);
    return ISAPI_TRUE;
}

std::string logFolder;
}  // namespace

TFakeConnection::TFakeConnection() { static_cast<void>(inHost); }

EXTENSION_CONTROL_BLOCK* TFakeConnection::Prepare() {
    method_ = Method;
    query_ = Query;
    pathInfo_ = PathInfo;
    pathTranslated_ = PathTranslated;
    preload_.assign(Body.begin(), Body.begin() + static_cast<std::ptrdiff_t>(std::min(Preloaded, Body.size())));
    ecb_ = EXTENSION_CONTROL_BLOCK{};
    ecb_.cbSize = sizeof(ecb_);
    ecb_.dwVersion = HSE_VERSION;
    ecb_.ConnID = this;
    ecb_.lpszMethod = TextOrNull(method_, NullFields);
    ecb_.lpszQueryString = TextOrNull(query_, NullFields);
    ecb_.lpszPathInfo = TextOrNull(pathInfo_, NullFields);
    ecb_.lpszPathTranslated = TextOrNull(pathTranslated_, NullFields);
    ecb_.cbTotalBytes = static_cast<ISAPI_DWORD>(Body.size());
    ecb_.cbAvailable = static_cast<ISAPI_DWORD>(preload_.size());
    ecb_.lpbData = preload_.empty() ? nullptr : preload_.data();
    ecb_.GetServerVariable = GetVariable;
    ecb_.WriteClient = WriteClient;
    ecb_.ReadClient = ReadClient;
    ecb_.ServerSupportFunction = Support;
    return &ecb_;
}

std::string TFakeConnection::Output() const {
    std::string all;
    for (const std::string& piece : Writes) all += piece;
    return all;
}

TFakeFilter::TFakeFilter() {
    Context.cbSize = sizeof(Context);
    Context.Revision = HTTP_FILTER_REVISION;
    Context.pFilterContext = this;
    Context.GetServerVariable = FilterVariable;
}

void UseTestLogFolder() {
    if (!logFolder.empty()) return;
    logFolder = support::MakeTempFolder("isapi_tests_log");
    setenv("CGI_LOG_DIR", logFolder.c_str(), 1);
}

std::string GatewayLog() { return logFolder.empty() ? std::string() : support::ReadFolderBytes(logFolder); }

namespace {
// Removes the log folder when the test program ends.
struct TLogFolderCleanup {
    ~TLogFolderCleanup() { support::RemoveFolder(logFolder); }
} logFolderCleanup;
}  // namespace

}  // namespace isapitest
