// The resident server: its loop, the serving of one claimed request, the
// heartbeat and request threads, and the console server's single request.
#include <atomic>
#include <chrono>
#include <memory>

#include "gateway/engine/Helpers.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/frontends/HttpCGIEngine.h"
#include "gateway/servermode/ServerMode.h"
#include "gateway/servermode/ServerModeInternal.h"
#include "gateway/servermode/ServerModeRequest.h"
#include "platform/Exception.h"
#include "platform/FileWatch.h"
#include "platform/Files.h"
#include "platform/MessageLoop.h"
#include "platform/Process.h"
#include "platform/Signals.h"
#include "platform/Streams.h"
#include "platform/StringList.h"
#include "platform/Threads.h"
#include "platform/WindowTitle.h"

using TServeRoutine = void (*)(THttpCGIEngine*, const std::string&);

namespace {
// Request threads still serving (ServerMode 2). The server finishes them,
// for a bounded time, before it frees the engine they run on.
std::atomic<int> ActiveRequestThreads{0};

// Sleeps up to milliseconds in poll steps; false when told to stop meanwhile.
bool SleepUnlessTerminated(const TThread& thread, double milliseconds) {
    for (double slept = 0; slept < milliseconds; slept += ServerConstants::PollMs) {
        if (thread.Terminated()) return false;
        Sleep(ServerConstants::PollMs);
    }
    return !thread.Terminated();
}

// Touches the alive file every 5 s. Once the alive file is gone it asks the
// main thread to stop (a close message) and gives it a bound to finish the
// running requests; after that it ends the process itself, without the
// program's end routines, which would run while the requests still do.
class TServerTickThread : public TThread {
public:
    TServerTickThread() : TThread(true) { FreeOnTerminate = true; }

protected:
    void Execute() override {
        while (SleepUnlessTerminated(*this, ServerConstants::HeartbeatMs)) {
            if (FileExists(AliveFileName())) {
                FileSetDateTime(AliveFileName(), Now());
                TouchWindowTitle(ServerFolder(), ServerWindowTitle());
                continue;
            }
            PostMessage(ApplicationHandle(), WM_CLOSE, 0, 0);
            if (!SleepUnlessTerminated(*this, ServerConstants::HaltSeconds * 1000)) return;
            HttpLog("Server loop: the running requests did not finish; the server ends without them");
            PurgeServerFiles();
            ClearWindowTitle(ServerFolder(), ServerWindowTitle());
            HaltProcess(0);
        }
    }
};

// Serves one claimed request on its own thread (ServerMode 2).
class TCGIRequestThread : public TThread {
public:
    TCGIRequestThread(std::string base, TServeRoutine routine, THttpCGIEngine* engine)
        : TThread(true), base_(std::move(base)), routine_(routine), engine_(engine) {
        FreeOnTerminate = true;
        ++ActiveRequestThreads;
    }

protected:
    void Execute() override {
        try {
            routine_(engine_, base_);
        } catch (const std::exception& e) {
            HttpLog(std::string("Server loop (thread): ") + e.what());
        }
        --ActiveRequestThreads;
    }

private:
    std::string base_;
    TServeRoutine routine_;
    THttpCGIEngine* engine_;
};

// Claims the oldest waiting request and serves it (on a thread of its own
// with ServerMode 2); false when none waits.
bool DispatchNextRequest(THttpCGIEngine* engine) {
    const std::string base = ClaimOldestRequest();
    if (base.empty()) return false;
    if (engine->ServerMode == 2) {
        auto* thread = new TCGIRequestThread(base, ServeRequestFiles, engine);
        thread->Start();
    } else {
        ServeRequestFiles(engine, base);
    }
    return true;
}

// Lets the request threads finish (30 s at most) and the clients collect
// what was published meanwhile; a response nobody collects holds the stop
// up for at most half a second.
void AwaitRequestThreads() {
    using Clock = std::chrono::steady_clock;
    Clock::time_point deadline = DeadlineAfter(ServerConstants::FinishRequestsSeconds);
    while (ActiveRequestThreads.load() > 0 && Clock::now() < deadline) Sleep(ServerConstants::PollMs);
    deadline = Clock::now() + std::chrono::milliseconds(500);
    while (!ListServerFiles("*_rsp").empty() && Clock::now() < deadline) Sleep(10);
}

void CallLastExecRequest() {
    THttpEngine* current = CurrentHttpEngine();
    if (current && current->OnLastExecRequest) current->OnLastExecRequest(current->Owner());
}

// Serves one claimed request into its response file: false when the claimed
// file holds no complete header block (nothing is answered; the stale purge
// removes the file).
bool RunClaimedRequest(THttpCGIEngine* engine, const std::string& base) {
    auto input = std::make_unique<TFileStream>(base + "cnf", fmOpenRead | fmShareDenyNone);
    std::string header;
    if (!ReadRequestHeader(*input, header)) return false;
    std::unique_ptr<TStringList> variables = TextToStringList(header);
    auto output = std::make_unique<TFileStream>(base + "ind", fmCreate);
    engine->RunRequest(input.release(), output.release(), variables.release());
    return true;
}

void PublishResponse(const std::string& base) {
    RenameWithRetries(base + "ind", base + "rsp", ServerConstants::PublishTries, ServerConstants::PublishRetryMs);
    DeleteFileWithRetries(base + "cnf");
}
}  // namespace

void ServeRequestFiles(THttpCGIEngine* engine, const std::string& base) {
    bool served = false;
    try {
        served = RunClaimedRequest(engine, base);
    } catch (...) {
        PublishResponse(base);
        PurgeFiles(AliveFileName(), Now() + 1.0);
        throw;
    }
    if (served) PublishResponse(base);
}

void RunServerLoop(THttpCGIEngine* engine) {
    try {
        InstallStopSignals();
        StartServer();
        SetWindowTitle(ServerFolder(), ServerWindowTitle());
        (new TServerTickThread())->Start();
        // A request completed in the folder (renamed into place) or the
        // alive file's removal ends the wait at once; without a watch the
        // loop polls every 50 ms and pauses 20 ms after each request.
        TFolderWatch watch(ServerFolder());
        std::uint32_t lastStalePurge = GetTickCount();
        while (FileExists(AliveFileName())) {
            if (StopMessageWaiting()) break;
            ProcessMessages();
            if (!DispatchNextRequest(engine))
                WaitForFolderChange(watch, ServerConstants::PollMs);
            else if (!watch.Active())
                Sleep(ServerConstants::AfterDispatchMs);
            if (GetTickCount() - lastStalePurge >= ServerConstants::StalePurgeEveryMs) {
                PurgeStaleFiles();
                lastStalePurge = GetTickCount();
            }
        }
        CallLastExecRequest();
    } catch (const std::exception& e) {
        HttpLog(std::string("Server loop: ") + e.what());
    }
    // No new claims from here: clients whose requests wait take them back.
    DeleteFileWithRetries(AliveFileName());
    AwaitRequestThreads();
    PurgeServerFiles();
    ClearWindowTitle(ServerFolder(), ServerWindowTitle());
    HttpTerminate();
    HaltProcess(0);
}

void WaitForRequestFile(TStream*& input, TStream*& output, TStringList*& variables) {
    input = nullptr;
    output = nullptr;
    variables = nullptr;
    StartServer();
    TFolderWatch watch(ServerFolder());
    std::string base;
    while (base.empty()) {
        if (!FileExists(AliveFileName())) {
            Sleep(ServerConstants::PollMs);
            if (FileExists(AliveFileName())) return;
            NormalExit(0);
        }
        base = ClaimOldestRequest();
        if (base.empty()) WaitForFolderChange(watch, ServerConstants::PollMs);
    }
    auto claimed = std::make_unique<TFileStream>(base + "cnf", fmOpenRead | fmShareDenyNone);
    std::string header;
    // A claimed file without a header block is left for the stale purge and
    // answered with nothing, as the windowed server does.
    if (!ReadRequestHeader(*claimed, header)) return;
    const THandle created = FileCreate(base + "rsp");
    if (created != INVALID_HANDLE_VALUE) FileClose(created);
    std::unique_ptr<TStringList> list = TextToStringList(header);
    auto response = std::make_unique<TFileStream>(base + "rsp", fmOpenWrite);
    input = claimed.release();
    variables = list.release();
    output = response.release();
}
