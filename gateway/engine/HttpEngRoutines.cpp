// The gateway routines: the calling thread's request, and the gateway log.
#include "gateway/engine/Helpers.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/engine/Limits.h"
#include "gateway/engine/RequestContext.h"
#include "platform/MessageLoop.h"
#include "platform/SysUtils.h"

THttpEngine* CurrentHttpEngine() { return RequestContext.CurrentEngine; }

void HttpWrite(std::string_view text) {
    if (THttpEngine* engine = RequestContext.CurrentEngine) engine->WriteLn(text);
}

void HttpSendHeader() {
    if (THttpEngine* engine = RequestContext.CurrentEngine) engine->SendHeader();
}

std::string HttpServerVariable(const std::string& name) {
    THttpEngine* engine = RequestContext.CurrentEngine;
    return engine != nullptr ? engine->ServerVariable(name) : std::string();
}

std::string HttpFieldValue(const std::string& name, const std::string& fallback) {
    THttpEngine* engine = RequestContext.CurrentEngine;
    return engine != nullptr ? engine->FieldValue(name, fallback) : fallback;
}

namespace {
// CGI_LOG_DIR when set, relative to the executable's folder unless rooted;
// else the executable's ".\log". A folder that is missing and cannot be
// made gives way to the executable's own folder.
std::string LogDirectory(const std::string& executable) {
    const std::string exeFolder = PathFolder(executable);
    std::string dir = GetEnvVariable("CGI_LOG_DIR");
    if (dir.empty()) dir = EngineSettings::DefaultLogDir;
    if (!HasDrive(dir)) dir = exeFolder + "\\" + dir;
    // Another thread may make the folder between the two checks.
    if (!DirectoryExists(dir) && !CreateDir(dir) && !DirectoryExists(dir)) dir = exeFolder;
    return dir;
}
}  // namespace

void HttpLog(const std::string& message) {
    try {
        // The log file is named after the executable, in the log folder.
        const std::string executable = ExecutableFileName();
        const std::string file = ComposeFileName(executable, LogDirectory(executable), false,
                                                 PathName(executable), false, "Log");
        // One append per line, so concurrent writers never tear one; a log
        // about to pass its bound is first moved aside.
        const std::string line =
            DateTimeToStr(Now()) + ",  " + IntToStr(RequestContext.RequestId) + " : " + message + "\r\n";
        static_cast<void>(AppendBounded(file, line, LogFileLimit));
        ProcessMessages();
        // In a debug mode the line also goes to the dump's user log.
        THttpEngine* engine = RequestContext.CurrentEngine;
        if (engine != nullptr && engine->DebugMode != NoDebug && RequestContext.UserLog) {
            RequestContext.UserLog->Seek(0, soFromEnd);
            RequestContext.UserLog->WriteString(line);
        }
    } catch (const std::exception&) {
        // The log never fails its caller: the line is lost.
    }
}
