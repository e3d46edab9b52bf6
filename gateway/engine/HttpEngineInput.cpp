// Request input: server-variable look-ups, the method checks, the body read
// and the form fields.
#include <algorithm>

#include "gateway/engine/HttpEng.h"
#include "gateway/engine/Limits.h"
#include "gateway/engine/RequestContext.h"
#include "gateway/engine/ServerVariables.h"
#include "gateway/engine/UrlEncoded.h"
#include "gateway/engine/WatchDog.h"
#include "platform/MessageLoop.h"
#include "platform/SysUtils.h"

std::string THttpEngine::RawServerVariable(const std::string&) { return {}; }

std::string THttpEngine::ServerVariable(const std::string& name) {
    return LookUpServerVariable(RequestContext.ServerVariableList.get(), name,
                                [this](const std::string& asked) { return RawServerVariable(asked); });
}

std::string THttpEngine::GetServerSoftware() { return ServerVariable("SERVER SOFTWARE"); }
std::string THttpEngine::GetGatewayInterface() { return ServerVariable("GATEWAY INTERFACE"); }
std::string THttpEngine::GetServerProtocol() { return ServerVariable("SERVER_PROTOCOL"); }
std::string THttpEngine::GetServerPort() { return ServerVariable("SERVER_PORT"); }
bool THttpEngine::GetServerPortSecure() { return ServerVariable("SERVER_PORT_SECURE") == "1"; }
std::string THttpEngine::GetRequestMethod() { return ServerVariable("REQUEST_METHOD"); }
std::string THttpEngine::GetPathInfo() { return ServerVariable("PATH_INFO"); }
std::string THttpEngine::GetPathTranslated() { return ServerVariable("PATH_TRANSLATED"); }
std::string THttpEngine::GetScriptName() { return ServerVariable("SCRIPT_NAME"); }
std::string THttpEngine::GetQueryString() { return ServerVariable("QUERY_STRING"); }
std::string THttpEngine::GetRemoteHost() { return ServerVariable("REMOTE_HOST"); }
std::string THttpEngine::GetRemoteAddr() { return ServerVariable("REMOTE_ADDR"); }
std::string THttpEngine::GetAuthType() { return ServerVariable("AUTH_TYPE"); }
std::string THttpEngine::GetRemoteUser() { return ServerVariable("REMOTE_USER"); }
std::string THttpEngine::GetRemoteIdent() { return ServerVariable("REMOTE_IDENT"); }
std::string THttpEngine::GetContentType() { return ServerVariable("CONTENT_TYPE"); }
std::int32_t THttpEngine::GetContentLength() { return StrToIntDef(ServerVariable("CONTENT_LENGTH"), 0); }
std::string THttpEngine::GetUrl() { return ServerVariable("URL"); }
std::string THttpEngine::GetUserAgent() { return ServerVariable("USER_AGENT"); }
std::string THttpEngine::GetHttpCookie() { return ServerVariable("HTTP_COOKIE"); }
std::string THttpEngine::GetHttpReferer() { return ServerVariable("HTTP_REFERER"); }
std::string THttpEngine::GetExecutablePath() { return ServerVariable("EXECUTABLE_PATH"); }

void THttpEngine::ReadRequestInput() {
    TRequestContext& ctx = RequestContext;
    if (!ctx.FieldList) ctx.FieldList = std::make_unique<TStringList>(/*sorted=*/true);
    // The limit check comes first, then multipart, then the methods.
    if (AutoReadLimit > 0 && GetContentLength() > AutoReadLimit)
        throw Exception("Content length exceeds allowed limit");
    // Whatever the method.
    if (Pos("MULTIPART/FORM-DATA", UpperCase(ServerVariable("CONTENT_TYPE"))) != 0)
        throw Exception("Method not supported in this version(PUT)");
    // The body's fields come before the query string's.
    const std::string method = UpperCase(ServerVariable("REQUEST_METHOD"));
    if (method == "POST") {
        if (!AllowedMethods.Post) throw Exception("Method not allowed (POST)");
        const std::int32_t length = StrToIntDef(ServerVariable("CONTENT_LENGTH"), 0);
        if (length > 0) ReadBody(length);
    }
    // For every method; only a GET is refused without Get.
    if (AllowedMethods.Get)
        ParseUrlEncoded(*ctx.FieldList, GetQueryString() + "&");
    else if (method == "GET")
        throw Exception("Method not allowed (GET)");
}

void THttpEngine::ReadBody(std::int32_t length) {
    std::string body;
    while (static_cast<std::int64_t>(body.size()) < length) {
        const int piece = std::min<std::int64_t>(EngineLimits::BodyPiece, length - static_cast<std::int64_t>(body.size()));
        const std::size_t had = body.size();
        body.resize(had + static_cast<std::size_t>(piece));
        const int got = ReadContent(body.data() + had, piece);
        body.resize(had + static_cast<std::size_t>(std::max(got, 0)));
        // A short piece means the stream ended (or stalled past its bound).
        if (got < piece) break;
    }
    body += '&';
    ParseUrlEncoded(*RequestContext.FieldList, body);
}

namespace {
void ArmWatchDog(bool armed) {
    if (TWatchDogThread* dog = WatchDog.load())
        dog->SetDeadline(armed ? Now() + BodyReadTimeoutMs() / MSecsPerDay : 0.0);
}
}  // namespace

int THttpEngine::ReadContent(void* buffer, int count) {
    TRequestContext& ctx = RequestContext;
    // No input stream: nothing can be read.
    if (ctx.InputStream == nullptr) return -1;
    // Pending messages first; the watchdog watches the read.
    ProcessMessages();
    ArmWatchDog(true);
    // 0 means "nothing yet": poll again (10 ms apart before the first
    // byte); a negative answer ends the read. Without a watchdog to end a
    // stalled process, the read itself gives up after the body-read timeout
    // without data.
    auto* bytes = static_cast<char*>(buffer);
    int total = 0;
    int last = 0;
    std::uint32_t lastData = GetTickCount();
    while (total < count && last >= 0) {
        ProcessMessages();
        last = ctx.InputStream->Read(bytes + total, std::min(count - total, EngineLimits::ReadPiece));
        if (last > 0) {
            ArmWatchDog(true);
            total += last;
            lastData = GetTickCount();
            continue;
        }
        if (last == 0 && AtEndForGood(*ctx.InputStream)) break;
        if (total == 0) {
            Sleep(10);
            total = last;
        } else {
            Sleep(0);
        }
        if (last == 0 && WatchDog.load() == nullptr && GetTickCount() - lastData >= BodyReadTimeoutMs()) break;
    }
    // Disarmed; in a debug mode the bytes go to the client input log.
    ArmWatchDog(false);
    if (DebugMode != NoDebug && total > 0 && ctx.ClientInputLog) ctx.ClientInputLog->Write(bytes, total);
    return total;
}

std::string THttpEngine::FieldValue(const std::string& name, const std::string& fallback) {
    if (!RequestContext.FieldList) return fallback;
    std::string value = RequestContext.FieldList->Values(name);
    return value.empty() ? fallback : value;
}

std::unique_ptr<TStringList> THttpEngine::FieldNames() {
    auto names = std::make_unique<TStringList>();
    if (!RequestContext.FieldList) return names;
    const TStringList& fields = *RequestContext.FieldList;
    for (int i = 0; i < fields.Count(); ++i) names->Add(fields.Names(i));
    return names;
}
