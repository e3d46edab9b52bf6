#include "host/Request.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/Extension.h"
#include "host/ResponseFilter.h"
#include "host/ServerVariables.h"

namespace {
// A stalled web server must not hold a worker for ever: the socket gets a
// receive timeout before the body is read, and a send timeout once the
// answer is larger than a socket buffer takes without blocking. A GET with
// a small answer needs neither.
constexpr int SocketTimeoutSeconds = 60;
constexpr std::size_t UnblockedOutput = 64 * 1024;

void SetSocketTimeout(int fd, int option) {
    timeval timeout{SocketTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, option, &timeout, sizeof timeout);
}

struct TRequestState {
    FCGX_Request* Fcgi = nullptr;
    EXTENSION_CONTROL_BLOCK Ecb{};
    std::string Method, Query, PathInfo, PathTranslated, ContentType;
    std::vector<std::uint8_t> Preload;
    std::size_t Sent = 0;  // bytes handed to libfcgi
    bool ServerGone = false;  // a write failed: the rest of the response is dropped
    TResponseFilter Output;

    explicit TRequestState(FCGX_Request& fcgi)
        : Fcgi(&fcgi), Output([this](std::string_view data) { return SendToServer(data); }) {}

    bool SendToServer(std::string_view data) {
        if (ServerGone) return false;
        if (Sent <= UnblockedOutput && Sent + data.size() > UnblockedOutput) SetSocketTimeout(Fcgi->ipcFd, SO_SNDTIMEO);
        Sent += data.size();
        while (!data.empty()) {
            const int n = static_cast<int>(data.size() < INT_MAX ? data.size() : INT_MAX);
            if (FCGX_PutStr(data.data(), n, Fcgi->out) != n) {
                ServerGone = true;
                return false;
            }
            data.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }
};

TRequestState& StateOf(HCONN conn) { return *static_cast<TRequestState*>(conn); }

ISAPI_BOOL GetServerVariable(HCONN conn, char* name, void* buffer, ISAPI_DWORD* size) {
    if (conn == nullptr || name == nullptr || size == nullptr) return ISAPI_FALSE;
    std::string value;
    if (!LookUpServerVariable(StateOf(conn).Fcgi->envp, name, value)) return ISAPI_FALSE;
    const std::size_t needed = value.size() + 1;
    if (buffer == nullptr || *size < needed) {
        *size = static_cast<ISAPI_DWORD>(needed);
        return ISAPI_FALSE;
    }
    std::memcpy(buffer, value.c_str(), needed);
    *size = static_cast<ISAPI_DWORD>(needed);
    return ISAPI_TRUE;
}

// Up to *size bytes of the rest of the body; 0 bytes at its end, when the
// server closed the request, or after the socket timeout.
ISAPI_BOOL ReadClient(HCONN conn, void* buffer, ISAPI_DWORD* size) {
    if (conn == nullptr || size == nullptr || (buffer == nullptr && *size > 0)) return ISAPI_FALSE;
    const int wanted = static_cast<int>(*size < INT_MAX ? *size : INT_MAX);
    const int got = wanted > 0 ? FCGX_GetStr(static_cast<char*>(buffer), wanted, StateOf(conn).Fcgi->in) : 0;
    *size = static_cast<ISAPI_DWORD>(got > 0 ? got : 0);
    return got >= 0 ? ISAPI_TRUE : ISAPI_FALSE;
}

ISAPI_BOOL WriteClient(HCONN conn, void* buffer, ISAPI_DWORD* bytes, ISAPI_DWORD) {
    if (conn == nullptr || bytes == nullptr || (buffer == nullptr && *bytes > 0)) return ISAPI_FALSE;
    if (!StateOf(conn).Output.Write(std::string_view(static_cast<const char*>(buffer), *bytes))) {
        *bytes = 0;
        return ISAPI_FALSE;
    }
    return ISAPI_TRUE;
}

// Only the redirect is offered; the size, when given, bounds the text.
ISAPI_BOOL ServerSupportFunction(HCONN conn, ISAPI_DWORD request, void* buffer, ISAPI_DWORD* size, ISAPI_DWORD*) {
    if (conn == nullptr || request != HSE_REQ_SEND_URL_REDIRECT_RESP || buffer == nullptr) return ISAPI_FALSE;
    const char* url = static_cast<const char*>(buffer);
    const std::size_t limit = size != nullptr ? *size : TResponseFilter::MaxLocation + 1;
    return StateOf(conn).Output.Redirect(std::string_view(url, strnlen(url, limit))) ? ISAPI_TRUE : ISAPI_FALSE;
}

std::string ParamOr(FCGX_ParamArray params, const char* name) {
    const char* value = FCGX_GetParam(name, params);
    return value != nullptr ? std::string(value) : std::string();
}

// The body's length: 0 when the parameter is absent or empty, -1 when it is
// not a decimal number, -2 when it does not fit the control block's 32 bits.
std::int64_t ContentLength(FCGX_ParamArray params) {
    const std::string text = ParamOr(params, "CONTENT_LENGTH");
    std::int64_t length = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return -1;
        length = length * 10 + (c - '0');
        if (length > static_cast<std::int64_t>(UINT32_MAX)) return -2;
    }
    return length;
}

// The control block's text fields are never null for the extension's host:
// an absent parameter is an empty text, held by the request like the others.
char* Field(const char* name, FCGX_ParamArray params, std::string& store) {
    const char* value = FCGX_GetParam(name, params);
    store = value != nullptr ? value : "";
    return store.data();
}

void BuildControlBlock(TRequestState& state, std::uint32_t contentLength) {
    FCGX_ParamArray params = state.Fcgi->envp;
    EXTENSION_CONTROL_BLOCK& ecb = state.Ecb;
    ecb.cbSize = sizeof ecb;
    ecb.dwVersion = HSE_VERSION;
    ecb.ConnID = &state;
    ecb.dwHttpStatusCode = 200;
    ecb.lpszMethod = Field("REQUEST_METHOD", params, state.Method);
    ecb.lpszQueryString = Field("QUERY_STRING", params, state.Query);
    ecb.lpszPathInfo = Field("PATH_INFO", params, state.PathInfo);
    ecb.lpszPathTranslated = Field("PATH_TRANSLATED", params, state.PathTranslated);
    ecb.lpszContentType = Field("CONTENT_TYPE", params, state.ContentType);
    ecb.cbTotalBytes = contentLength;
    state.Preload.resize(contentLength < PreloadLimit ? contentLength : PreloadLimit);
    const int got = state.Preload.empty() ? 0
                                          : FCGX_GetStr(reinterpret_cast<char*>(state.Preload.data()),
                                                        static_cast<int>(state.Preload.size()), state.Fcgi->in);
    state.Preload.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    ecb.cbAvailable = static_cast<ISAPI_DWORD>(state.Preload.size());
    ecb.lpbData = state.Preload.empty() ? nullptr : state.Preload.data();
    ecb.GetServerVariable = GetServerVariable;
    ecb.WriteClient = WriteClient;
    ecb.ReadClient = ReadClient;
    ecb.ServerSupportFunction = ServerSupportFunction;
}

void Refuse(FCGX_Request& request, const char* status) {
    FCGX_FPrintF(request.out, "Status: %s\r\nContent-Type: text/plain\r\n\r\n%s\r\n", status, status);
}

}  // namespace

void ServeRequest(FCGX_Request& request, const TExtension& extension, std::uint32_t bodyLimit) {
    if (ParamBytes(request.envp) > MaxParamBytes) return Refuse(request, "431 Request Header Fields Too Large");
    const std::int64_t length = ContentLength(request.envp);
    if (length == -1) return Refuse(request, "400 Bad Request");
    if (length < 0 || length > bodyLimit) return Refuse(request, "413 Payload Too Large");
    if (length > 0) SetSocketTimeout(request.ipcFd, SO_RCVTIMEO);
    TRequestState state(request);
    BuildControlBlock(state, static_cast<std::uint32_t>(length));
    const ISAPI_DWORD status = extension.HttpExtensionProc(&state.Ecb);
    const bool failed = status != HSE_STATUS_SUCCESS && status != HSE_STATUS_SUCCESS_AND_KEEP_CONN;
    if (status == HSE_STATUS_PENDING)
        std::fprintf(stderr, "isapi-fcgi: the extension returned a pending status, which this host does not offer\n");
    state.Output.Finish(failed);
}
