// The client side of the hand-off: a CGI process that found a resident
// server alive writes its request file, waits for the response and copies
// it to its own output. Every wait is bounded: 180 s for the response, 30 s
// for each header entry and for each stretch of the body without data (the
// watchdog). A request the server never ran is given back and served here.
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>

#include "gateway/engine/Helpers.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/engine/Limits.h"
#include "gateway/engine/WatchDog.h"
#include "gateway/servermode/ServerMode.h"
#include "gateway/servermode/ServerModeInternal.h"
#include "gateway/servermode/ServerModeRequest.h"
#include "platform/Exception.h"
#include "platform/FileWatch.h"
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
using Clock = std::chrono::steady_clock;

// The windowed client's watchdog (none when unguarded) ends the process when
// one header entry or one stretch of the body takes longer than 30 s.
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

// Requests that wait unclaimed: 10 of them refuse this client. Answers
// nobody collected and requests being served do not count.
void CheckClientLimit() {
    int pending = 0;
    TSearchRec rec;
    for (int found = FindFirst(ServerFilePrefix() + "*_req", faAnyFile, rec); found == 0; found = FindNext(rec))
        if ((rec.Attr & faDirectory) == 0) ++pending;
    FindClose(rec);
    if (pending >= ServerConstants::ClientLimit) throw Exception("Server mode - Too many clients");
}

// The names of one client's files.
struct TClientFiles {
    explicit TClientFiles(const std::string& id)
        : Writing(ServerFilePrefix() + id + "_wrt"),
          Request(ServerFilePrefix() + id + "_REQ"),
          Claimed(ServerFilePrefix() + id + "_cnf"),
          Answering(ServerFilePrefix() + id + "_ind"),
          Response(ServerFilePrefix() + id + "_rsp") {}
    std::string Writing, Request, Claimed, Answering, Response;

    // What a server that died while answering left of this client's files.
    void RemoveLeftovers() const {
        for (const std::string* file : {&Claimed, &Answering, &Response}) DeleteFileWithRetries(*file);
    }
};

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

// Copies up to length bytes of the body, keeping them in body as well. A
// read that finds nothing yet (a non-blocking input) waits and reads again;
// the copy stops at the end of the data, at length, or (without a watchdog)
// after 30 s without data. A body that ends early is handed over as it
// came, and the server reads it as a direct run would.
void CopyBody(TStream* input, TStream& file, std::int32_t length, TWatchDogThread* watchdog, const std::string& name,
              std::string& body) {
    char block[EngineLimits::ReadPiece];
    std::int32_t left = length;
    Clock::time_point lastData = Clock::now();
    while (input && left > 0) {
        ArmDeadline(watchdog);
        const int n = input->Read(block, std::min<std::int32_t>(left, sizeof block));
        if (n < 0 || (n == 0 && AtEndForGood(*input))) break;
        if (n == 0) {
            if (!watchdog && Clock::now() - lastData >= std::chrono::duration<double>(ServerConstants::HeaderLineSeconds))
                break;
            Sleep(1);
            continue;
        }
        body.append(block, static_cast<std::size_t>(n));
        WriteOrFail(file, std::string_view(block, static_cast<std::size_t>(n)), name);
        left -= n;
        lastData = Clock::now();
    }
}

// Writes the request under a temporary name and renames it to its "_REQ"
// name only when complete, so the server never claims a partial request.
// guarded: the windowed client, whose watchdog bounds every entry and block.
void WriteRequestFile(const TClientFiles& files, const TStringList& variables, TStream* input, bool guarded,
                      std::string& body) {
    TWatchDogThread* watchdog = nullptr;
    try {
        auto file = std::make_unique<TFileStream>(files.Writing, fmCreate);
        if (guarded) {
            watchdog = new TWatchDogThread(ServerConstants::WatchDogPollMs);
            watchdog->Start();
        }
        // The header block in one piece; the watchdog bounds the write.
        if (guarded) ProcessMessages();
        ArmDeadline(watchdog);
        WriteOrFail(*file, ComposeRequestHeader(variables), files.Writing);
        CopyBody(input, *file, RequestContentLength(variables), watchdog, files.Writing, body);
        file.reset();
    } catch (...) {
        StopWatchDog(watchdog);
        DeleteFile(files.Writing);
        throw;
    }
    StopWatchDog(watchdog);
    if (!RenameFile(files.Writing, files.Request)) {
        DeleteFile(files.Writing);
        throw EFileError("Cannot rename file \"" + files.Writing + "\"");
    }
}

// The body bytes the hand-off read, then whatever the input still holds:
// the input of a request given back to this process.
class TReplayStream : public TStream {
public:
    TReplayStream(std::string bytes, std::unique_ptr<TStream> rest) : bytes_(std::move(bytes)), rest_(std::move(rest)) {}

    int Read(void* buffer, int count) override {
        if (count <= 0) return 0;
        if (position_ < bytes_.size()) {
            const std::size_t n = std::min(bytes_.size() - position_, static_cast<std::size_t>(count));
            std::memcpy(buffer, bytes_.data() + position_, n);
            position_ += n;
            return static_cast<int>(n);
        }
        if (!rest_ || AtEndForGood(*rest_)) return -1;
        const int n = rest_->Read(buffer, count);
        if (n > 0) position_ += static_cast<std::size_t>(n);
        return n;
    }
    int Write(const void*, int) override { return 0; }
    std::int64_t Seek(std::int64_t offset, int origin) override {
        return offset == 0 && origin == soFromCurrent ? static_cast<std::int64_t>(position_) : -1;
    }

private:
    std::string bytes_;
    std::unique_ptr<TStream> rest_;
    std::size_t position_ = 0;
};

void GiveBack(TCgiRequest& request, std::string body) {
    if (!body.empty()) request.Input = std::make_unique<TReplayStream>(std::move(body), std::move(request.Input));
}

// What the client knows of the server while it waits.
struct TServerSight {
    bool Stopping;  // the alive file is gone
    bool Dead;      // its process has ended, or it has not touched the alive file for 30 s
    bool Present;   // its published process lives
};

TServerSight LookAtServer(bool seen) {
    const TWindowState window = FindWindowTitle(ServerFolder(), ServerWindowTitle());
    const double age = AliveAgeSeconds();
    const bool dead = window == TWindowState::wsGone || (seen && window == TWindowState::wsAbsent) ||
                      age > ServerConstants::AliveSeconds;
    return {age < 0, dead, window == TWindowState::wsPresent};
}

enum class TWaitOutcome {
    Answered,  // the response is there
    Stopped,   // a close, quit or system-command message (the web server's SIGTERM)
    TimedOut,  // 180 s passed
    Vanished,  // the server stopped or died without running the request, or died running it
    Lost       // the server stopped and its process is unknown: nothing more will come
};

// Waits for the response, waking for every change in the server folder and
// every 50 ms at the latest; the server's process is looked at every 50 ms,
// its alive file at every wake.
TWaitOutcome WaitForResponse(const TClientFiles& files, bool seen, TFolderWatch& watch) {
    const Clock::time_point deadline = DeadlineAfter(ServerConstants::ResponseWaitSeconds);
    const auto lookEvery = std::chrono::milliseconds(ServerConstants::PollMs);
    Clock::time_point nextLook = Clock::now() + lookEvery;
    TServerSight server{false, false, true};
    for (;;) {
        if (FileExists(files.Response)) return TWaitOutcome::Answered;
        if (Clock::now() >= deadline) return TWaitOutcome::TimedOut;
        if (StopMessageWaiting()) return TWaitOutcome::Stopped;
        if (Clock::now() >= nextLook) {
            server = LookAtServer(seen);
            nextLook = Clock::now() + lookEvery;
        } else {
            server.Stopping = !FileExists(AliveFileName());
        }
        const bool unclaimed = FileExists(files.Request);
        if (unclaimed && (server.Stopping || server.Dead)) return TWaitOutcome::Vanished;
        if (!unclaimed && server.Dead) return FileExists(files.Response) ? TWaitOutcome::Answered : TWaitOutcome::Vanished;
        // A stopping server finishes what it has claimed while it lives.
        if (!unclaimed && server.Stopping && !server.Present) return TWaitOutcome::Lost;
        WaitForFolderChange(watch, ServerConstants::PollMs);
    }
}

// Takes the client's request back from the folder, unclaimed or (from a
// server that has died) claimed: true when this process holds it again and
// no server will run it.
bool TakeBack(const TClientFiles& files, bool claimedToo) {
    const bool taken = RenameFile(files.Request, files.Writing) || (claimedToo && RenameFile(files.Claimed, files.Writing));
    if (taken) DeleteFileWithRetries(files.Writing);
    return taken;
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

namespace ServerModeClient {
// What both clients do: the request written under a fresh client id (the
// body read kept, to give back), then waitFor, which answers the client and
// says whether the request came back to be served here. A failure before
// the request file was complete gives the request back too; any later one
// leaves the client without an answer. Unless given back, the process ends.
void HandOver(TCgiRequest& request, bool guarded, std::string (*address)(const TStringList&), void (*beforeWriting)(),
              const std::function<bool(const TClientFiles&, TFolderWatch&)>& waitFor) {
    if (!request.Variables) request.Variables = std::make_unique<TStringList>();
    if (!FramesSafely(*request.Variables)) return;
    std::string body;
    bool written = false;
    try {
        const TClientFiles files(DrawClientId(address(*request.Variables)));
        beforeWriting();
        // Made before the request exists, so no change after it is missed.
        TFolderWatch watch(ServerFolder());
        WriteRequestFile(files, *request.Variables, request.Input.get(), guarded, body);
        written = true;
        if (waitFor(files, watch)) {
            GiveBack(request, std::move(body));
            return;
        }
    } catch (const std::exception& e) {
        HttpLog(e.what());
        if (!written) {
            GiveBack(request, std::move(body));
            return;
        }
    }
    request.Output.reset();
    HaltProcess(0);
}

std::string ConsoleAddress(const TStringList&) { return "DEBUG"; }
void NothingFirst() {}
}  // namespace ServerModeClient

void HandOffRequest(TCgiRequest& request) {
    const bool seen = FindWindowTitle(ServerFolder(), ServerWindowTitle()) == TWindowState::wsPresent;
    HandOver(request, true, ClientAddress, CheckClientLimit, [&](const TClientFiles& files, TFolderWatch& watch) {
        // From here a SIGTERM of the web server ends the wait, not the process.
        InstallStopSignals();
        switch (WaitForResponse(files, seen, watch)) {
            case TWaitOutcome::Answered:
                // A response published just before the server stopped is
                // still delivered.
                CopyResponse(files.Response, request.Output.get());
                break;
            case TWaitOutcome::Vanished:
                if (TakeBack(files, true)) {
                    files.RemoveLeftovers();
                    RestoreStopSignals();
                    return true;
                }
                if (FileExists(files.Response)) CopyResponse(files.Response, request.Output.get());
                break;
            case TWaitOutcome::Stopped:
            case TWaitOutcome::TimedOut:
                // Nobody waits for the answer any more: a request not yet
                // claimed goes; a claimed one is answered into a response
                // the server purges once 180 s have passed.
                TakeBack(files, false);
                return false;
            case TWaitOutcome::Lost:
                return false;
        }
        files.RemoveLeftovers();
        return false;
    });
}

void HandOffRequestConsole(TCgiRequest& request) {
    // The console client's first trace line.
    HttpLog("c1");
    HandOver(request, false, ConsoleAddress, NothingFirst, [&](const TClientFiles& files, TFolderWatch& watch) {
        // The console server ends (and removes its alive file) once it has
        // written the response.
        const Clock::time_point deadline = DeadlineAfter(ServerConstants::ResponseWaitSeconds);
        while (FileExists(AliveFileName()) && Clock::now() < deadline)
            WaitForFolderChange(watch, ServerConstants::PollMsConsole);
        if (FileExists(files.Response))
            CopyResponse(files.Response, request.Output.get());
        else if (TakeBack(files, false))
            return true;
        // The client's own files only: the console server leaves its claim.
        files.RemoveLeftovers();
        return false;
    });
}
