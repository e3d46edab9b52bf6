// The client side of the hand-off: a CGI process that found a resident
// server alive writes its request file, waits for the response and copies
// it to its own output. Every wait is bounded: 180 s for the response, 30 s
// for each header entry and each block of the body (the watchdog).
#include <memory>

#include "gateway/engine/Helpers.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/engine/Limits.h"
#include "gateway/engine/WatchDog.h"
#include "gateway/servermode/ServerMode.h"
#include "gateway/servermode/ServerModeInternal.h"
#include "gateway/servermode/ServerModeRequest.h"
#include "platform/Exception.h"
#include "platform/Files.h"
#include "platform/MessageLoop.h"
#include "platform/Process.h"
#include "platform/Random.h"
#include "platform/Signals.h"
#include "platform/Streams.h"
#include "platform/StringList.h"
#include "platform/Threads.h"
#include "platform/WindowTitle.h"

namespace ServerModeClient {
// The windowed client's watchdog (none when unguarded) ends the process when
// one header entry or one block of the body takes longer than 30 s.
void ArmDeadline(TWatchDogThread* watchdog) {
    if (watchdog) watchdog->SetDeadline(Now() + ServerConstants::HeaderLineSeconds * OneSecond);
}

// Draws ids until no file at all begins with prefix + id. The process id is
// mixed into the generator first: CGI processes started in the same
// millisecond seed it alike and would otherwise draw the same ids.
std::string DrawClientId(const std::string& address) {
    RandomState ^= static_cast<std::uint32_t>(CurrentProcessId()) * 2654435761u;
    const std::string prefix = ServerFilePrefix();
    for (int draw = 0; draw < EngineLimits::ClientIdDraws; ++draw) {
        const std::string id = FormatClientId(address, NextRandom(268435455));
        TSearchRec info;
        if (FindFileInfo(prefix + id + "*", faAnyFile, info) != 0) return id;
    }
    throw Exception("Server mode - No free client id");
}

// The alive file and the files of other clients: 10 beyond the alive file
// refuse this client.
void CheckClientLimit() {
    int count = 0;
    TSearchRec rec;
    for (int found = FindFirst(ServerFilePrefix() + "*", faAnyFile, rec); found == 0; found = FindNext(rec))
        if ((rec.Attr & faDirectory) == 0) ++count;
    FindClose(rec);
    if (count - 1 >= ServerConstants::ClientLimit) throw Exception("Server mode - Too many clients");
}

// Disarmed before it is told to end: once told, it frees itself.
void StopWatchDog(TWatchDogThread* watchdog) {
    if (!watchdog) return;
    watchdog->SetDeadline(0);
    watchdog->Terminate();
}

void WriteOrFail(TStream& file, std::string_view bytes, const std::string& name) {
    if (file.Write(bytes.data(), static_cast<int>(bytes.size())) != static_cast<int>(bytes.size()))
        throw EFileError("Cannot write file \"" + name + "\"");
}

void CopyBody(TStream* input, TStream& file, std::int32_t length, TWatchDogThread* watchdog, const std::string& name) {
    char block[EngineLimits::ReadPiece];
    std::int32_t left = length;
    while (input && left > 0) {
        ArmDeadline(watchdog);
        const int n = input->Read(block, std::min<std::int32_t>(left, sizeof block));
        if (n <= 0) break;
        WriteOrFail(file, std::string_view(block, static_cast<std::size_t>(n)), name);
        left -= n;
    }
}

// Writes the request under a temporary name and renames it to its "_REQ"
// name only when complete, so the server never claims a partial request.
// guarded: the windowed client, whose watchdog bounds every entry and block.
void WriteRequestFile(const std::string& id, std::unique_ptr<TStringList> variables,
                      std::unique_ptr<TStream> input, bool guarded) {
    const std::string prefix = ServerFilePrefix();
    const std::string temporary = prefix + id + "_wrt";
    const std::string request = prefix + id + "_REQ";
    TWatchDogThread* watchdog = nullptr;
    try {
        auto file = std::make_unique<TFileStream>(temporary, fmCreate);
        if (guarded) {
            watchdog = new TWatchDogThread(ServerConstants::WatchDogPollMs);
            watchdog->Start();
        }
        for (const auto& entry : variables->Lines()) {
            if (guarded) ProcessMessages();
            ArmDeadline(watchdog);
            WriteOrFail(*file, entry + "\r\n", temporary);
        }
        WriteOrFail(*file, "\r\n", temporary);
        const std::int32_t length = RequestContentLength(*variables);
        variables.reset();
        CopyBody(input.get(), *file, length, watchdog, temporary);
        input.reset();
        file.reset();
    } catch (...) {
        StopWatchDog(watchdog);
        DeleteFile(temporary);
        throw;
    }
    StopWatchDog(watchdog);
    if (!RenameFile(temporary, request)) {
        DeleteFile(temporary);
        throw EFileError("Cannot rename file \"" + temporary + "\"");
    }
}

enum class TWaitOutcome { Answered, AliveGone, TimedOut, Stopped, ServerGone };

// The server is gone when its published process has ended, when its window
// was seen and is no longer there, or when its alive file has not been
// touched for 30 s (it is touched every 5 s).
bool ServerVanished(bool seen, TDateTime aliveTime) {
    const TWindowState window = FindWindowTitle(ServerFolder(), ServerWindowTitle());
    if (window == TWindowState::wsGone || (seen && window != TWindowState::wsPresent)) return true;
    return aliveTime < Now() - ServerConstants::AliveSeconds * OneSecond;
}

TWaitOutcome WaitForResponse(const std::string& response, bool seen) {
    const TDateTime deadline = Now() + ServerConstants::ResponseWaitSeconds * OneSecond;
    for (;;) {
        if (FileExists(response)) return TWaitOutcome::Answered;
        TDateTime aliveTime = 0;
        if (!FileGetDateTime(AliveFileName(), aliveTime)) return TWaitOutcome::AliveGone;
        if (Now() >= deadline) return TWaitOutcome::TimedOut;
        if (StopMessageWaiting()) return TWaitOutcome::Stopped;
        if (ServerVanished(seen, aliveTime)) return TWaitOutcome::ServerGone;
        Sleep(ServerConstants::PollMs);
        ProcessMessages();
    }
}

std::unique_ptr<TFileStream> OpenResponse(const std::string& response) {
    try {
        return std::make_unique<TFileStream>(response, fmOpenRead | fmShareDenyNone);
    } catch (const EFileError&) {
        Sleep(ServerConstants::ResponseOpenRetryMs);
    }
    return std::make_unique<TFileStream>(response, fmOpenRead | fmShareDenyNone);
}

void CopyResponse(const std::string& response, TStream* output) {
    auto file = OpenResponse(response);
    if (output) output->CopyFrom(*file);
}
}  // namespace ServerModeClient

using namespace ServerModeClient;

void HandOffRequest(TStream* input, TStream* output, TStringList* variables) {
    // One object serving as both streams is owned once, as the output.
    std::unique_ptr<TStream> out(output);
    std::unique_ptr<TStream> in(input == output ? nullptr : input);
    std::unique_ptr<TStringList> list(variables ? variables : new TStringList());
    try {
        const bool seen = FindWindowTitle(ServerFolder(), ServerWindowTitle()) == TWindowState::wsPresent;
        const std::string id = DrawClientId(ClientAddress(*list));
        CheckClientLimit();
        WriteRequestFile(id, std::move(list), std::move(in), true);
        const std::string response = ServerFilePrefix() + id + "_rsp";
        // From here a SIGTERM of the web server ends the wait, not the process.
        InstallStopSignals();
        const TWaitOutcome outcome = WaitForResponse(response, seen);
        // A response published just before the server stopped is still
        // delivered: copy first, then clear a vanished server's files.
        if (FileExists(response)) CopyResponse(response, out.get());
        if (outcome == TWaitOutcome::ServerGone || outcome == TWaitOutcome::TimedOut) {
            PurgeFiles(ServerFilePrefix() + "*", Now() + 1.0);
            ClearDeadWindowTitle(ServerFolder(), ServerWindowTitle());
        }
        out.reset();
        PurgeFiles(response, Now() + 1.0);
        PurgeFiles(ServerFolder() + "\\*.*_*", Now() - ServerConstants::StaleDays);
    } catch (const std::exception& e) {
        HttpLog(e.what());
    }
    HaltProcess(0);
}

void HandOffRequestConsole(TStream* input, TStream* output, TStringList* variables) {
    // One object serving as both streams is owned once, as the output.
    std::unique_ptr<TStream> out(output);
    std::unique_ptr<TStream> in(input == output ? nullptr : input);
    std::unique_ptr<TStringList> list(variables ? variables : new TStringList());
    try {
        HttpLog("c1");
        const std::string id = DrawClientId("DEBUG");
        WriteRequestFile(id, std::move(list), std::move(in), false);
        const TDateTime deadline = Now() + ServerConstants::ResponseWaitSeconds * OneSecond;
        while (FileExists(AliveFileName()) && Now() < deadline) Sleep(ServerConstants::PollMsConsole);
        const std::string response = ServerFilePrefix() + id + "_rsp";
        if (FileExists(response)) CopyResponse(response, out.get());
    } catch (const std::exception& e) {
        HttpLog(e.what());
    }
    out.reset();
    PurgeFiles(ServerFilePrefix() + "*", Now() + 1.0);
    HaltProcess(0);
}
