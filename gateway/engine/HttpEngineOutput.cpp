// Response output: the body buffer, the pending headers, the header block,
// the debug dump and the end of a request.
#include <algorithm>

#include "gateway/engine/Failures.h"
#include "gateway/engine/Helpers.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/engine/Limits.h"
#include "gateway/engine/ProcessRole.h"
#include "gateway/engine/RequestContext.h"
#include "platform/MessageLoop.h"
#include "platform/Process.h"
#include "platform/SysUtils.h"

void THttpEngine::Write(std::string_view text) {
    if (text.empty() || !RequestContext.OutputBuffer) return;
    RequestContext.OutputBuffer->WriteString(text);
}

void THttpEngine::WriteLn(std::string_view text) {
    std::string line(text);
    line += "\r\n";
    Write(line);
}

void THttpEngine::WriteBuffer(const void* buffer, int count) {
    if (count <= 0 || !RequestContext.OutputBuffer) return;
    RequestContext.OutputBuffer->Write(buffer, count);
}

void THttpEngine::WriteStream(TStream& stream) {
    if (!RequestContext.OutputBuffer) return;
    char piece[EngineLimits::ReadPiece];
    for (;;) {
        const int got = stream.Read(piece, EngineLimits::ReadPiece);
        if (got <= 0) return;
        RequestContext.OutputBuffer->Write(piece, got);
        ProcessMessages();
    }
}

void RefuseLineBreaks(const std::string& name, const std::string& value) {
    const auto breaks = [](const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; };
    if (breaks(name) || breaks(value)) throw Exception(HeaderLineBreakMessage);
}

void THttpEngine::AddHeader(const std::string& name, const std::string& value) {
    // A line break would end the header early and let the rest pass as
    // headers or body of the client's choosing.
    RefuseLineBreaks(name, value);
    if (RequestContext.HeaderList) RequestContext.HeaderList->Add(name + "=" + value);
}

void THttpEngine::ClearOutput() {
    if (RequestContext.HeaderList) RequestContext.HeaderList->Clear();
    if (RequestContext.OutputBuffer) RequestContext.OutputBuffer->Clear();
}

void THttpEngine::AddDownloadHeaders(const std::string& contentType, const std::string& fileName) {
    std::string type = Trim(contentType);
    if (type.empty()) type = "application/binary";
    std::string bare = fileName;
    const std::size_t slash = bare.rfind('\\');
    if (slash != std::string::npos) bare = bare.substr(slash + 1);
    // A quoted string (RFC 6266, 4.1; RFC 9110, 5.6.4): '"' and "\" escaped,
    // so a name with ";" or blanks stays one parameter.
    std::string quoted = "\"";
    for (const char ch : bare) {
        if (ch == '"' || ch == '\\') quoted += '\\';
        quoted += ch;
    }
    quoted += '"';
    AddHeader("Content-Type", type + "; name=" + quoted);
    AddHeader("Content-Transfer-Encoding", "8bit");
    AddHeader("Content-Disposition", "attachment; filename=" + quoted);
}

void THttpEngine::OutputHeaderLine(const std::string& name, const std::string& value) {
    if (!RequestContext.DebugDumpActive) SendHeaderLine(name, value);
}

void THttpEngine::SendHeader() {
    TRequestContext& ctx = RequestContext;
    if (!ctx.HeaderList || !ctx.OutputBuffer) return;
    // A redirect goes out with only the headers the application gave.
    if (AutoHttpHeader && !ctx.HeaderSent && !ctx.OutputSent && ctx.HeaderList->Values("location").empty())
        CompleteHeaderBlock();
    // The pending headers, or the automatic ones.
    if (!ctx.HeaderSent && (!ctx.HeaderList->Empty() || AutoHttpHeader)) SendPendingHeaders();
    // The debug dump follows the body.
    if (ctx.DebugDumpActive) AppendDebugDump();
    // The whole buffer in one write.
    if (ctx.OutputBuffer->Size() > 0 && ctx.OutputStream != nullptr) {
        ctx.OutputStream->Write(ctx.OutputBuffer->Memory(), static_cast<int>(ctx.OutputBuffer->Size()));
        ctx.OutputSent = true;
    }
    // What was sent is not sent again.
    ctx.HeaderList->Clear();
    ctx.OutputBuffer->Clear();
}

void THttpEngine::CompleteHeaderBlock() {
    TStringList& headers = *RequestContext.HeaderList;
    // A header line the application gave as a status line replaces ours.
    // It leaves first, ahead of the content type: a server that takes the
    // status line unchanged needs it as the first line of the output.
    int status = -1;
    for (int i = 0; i < headers.Count() && status < 0; ++i)
        if (StartsText("HTTP/1.", headers[i])) status = i;
    if (status < 0) {
        OutputHeaderLine("HTTP/1.0 200 OK", "");
    } else {
        const std::string line = headers[status];
        const std::size_t eq = line.find('=');
        OutputHeaderLine(line.substr(0, eq), eq == std::string::npos ? std::string() : line.substr(eq + 1));
        headers.Delete(status);
    }
    // The automatic content type (this request's own, when its handler set
    // one), unless the application gave one.
    if (headers.Values("content-type").empty())
        OutputHeaderLine("content-type", RequestContext.ContentType.value_or(AutoContentType));
    // Dates in the past, each computed on its own.
    if (NoCache) {
        AddHeader("Pragma", "no-cache");
        AddHeader("Cache-Control", "no-cache");
        AddHeader("Expires", FormatHttpDate(Now() - 1000));
        AddHeader("Document Expires", FormatHttpDate(Now() - 1000));
    }
}

void THttpEngine::SendPendingHeaders() {
    TRequestContext& ctx = RequestContext;
    while (ctx.HeaderList && !ctx.HeaderList->Empty()) {
        const std::string line = (*ctx.HeaderList)[0];
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos)
            OutputHeaderLine(line, "");
        else
            OutputHeaderLine(line.substr(0, eq), line.substr(eq + 1));
        ctx.HeaderList->Delete(0);
    }
    ctx.HeaderSent = true;
    EndHeaderBlock();
}

void THttpEngine::AppendDebugDump() {
    TRequestContext& ctx = RequestContext;
    WriteLn("(*** END ***)");
    WriteLn("\r\n(************************)\r\n(***    User Log      ***)\r\n(************************)");
    if (ctx.UserLog) {
        ctx.UserLog->SetPosition(0);
        WriteStream(*ctx.UserLog);
    }
    WriteLn("\r\n(************************)\r\n(***   Client input   ***)\r\n(************************)");
    if (ctx.ClientInputLog) {
        ctx.ClientInputLog->SetPosition(0);
        WriteStream(*ctx.ClientInputLog);
    }
    WriteLn("\r\n(************************)\r\n(*** Server variables ***)\r\n(************************)");
    WriteLn(ServerVariables().Text());
    ctx.DebugDumpActive = false;
}

void THttpEngine::FinishRequest() {
    TRequestContext& ctx = RequestContext;
    // A front end that finishes its request itself adds the length here,
    // not after the handlers.
    Ignoring([&] {
        if (ConsoleFinishesRequest() && ctx.OutputStream != nullptr) AddContentLength();
    });
    // An empty line before the dump.
    Ignoring([&] {
        if (ctx.DebugDumpActive) WriteLn("");
    });
    // Without an output stream nothing can be sent; the request's
    // objects are released all the same, so none outlives its request.
    Ignoring([&] {
        if (ctx.OutputStream != nullptr) SendHeader();
    });
    // The request's objects are released; a shared stream once.
    if (ctx.InputStream != ctx.OutputStream) delete ctx.InputStream;
    delete ctx.OutputStream;
    ctx.InputStream = nullptr;
    ctx.OutputStream = nullptr;
    ctx.ClientInputLog.reset();
    ctx.UserLog.reset();
    ctx.ServerVariableList.reset();
    ctx.FieldList.reset();
    ctx.HeaderList.reset();
    ctx.OutputBuffer.reset();
    ctx.ContentType.reset();
}
