// The resident server: its loop, the serving of one claimed request, the
// heartbeat and request threads, and the console server's single request.
#include <atomic>
#include <memory>

#include "gateway/engine/Helpers.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/frontends/HttpCGIEngine.h"
#include "gateway/servermode/ServerMode.h"
#include "gateway/servermode/ServerModeInternal.h"
#include "gateway/servermode/ServerModeRequest.h"
#include "platform/Exception.h"
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
constexpr double FinishRequestsSeconds = 30;

// Touches the alive file every 5 s; ends the process through the normal
// program end once the alive file is gone.
class TServerTickThread : public TThread {
public:
    TServerTickThread() : TThread(true) { FreeOnTerminate = true; }

protected:
    void Execute() override {
        while (!Terminated()) {
            for (std::uint32_t slept = 0; slept < ServerConstants::HeartbeatMs && !Terminated();
                 slept += ServerConstants::PollMs)
                Sleep(ServerConstants::PollMs);
            if (Terminated()) return;
            if (!FileExists(AliveFileName())) NormalExit(0);
            FileSetDateTime(AliveFileName(), Now());
            TouchWindowTitle(ServerFolder(), ServerWindowTitle());
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

// Name of the first waiting request file (folder included) or "" when none.
std::string FindRequestFile() {
    TSearchRec info;
    if (FindFileInfo(ServerFilePrefix() + "*_req", faAnyFile, info) != 0) return {};
    return ServerFolder() + "\\" + info.Name;
}

// Claims a found request file under its "_cnf" name; returns the base
// (the name without "REQ"). A claim that never succeeds shows in the next
// step: there is no claimed file to open.
std::string ClaimRequest(const std::string& requestFile) {
    const std::string base = requestFile.substr(0, requestFile.size() - 3);
    RenameWithRetries(requestFile, base + "cnf", ServerConstants::ClaimTries, ServerConstants::ClaimRetryMs);
    return base;
}

void DispatchNextRequest(THttpCGIEngine* engine) {
    const std::string requestFile = FindRequestFile();
    if (requestFile.empty()) {
        Sleep(ServerConstants::PollMs);
        return;
    }
    const std::string base = ClaimRequest(requestFile);
    if (engine->ServerMode == 2) {
        auto* thread = new TCGIRequestThread(base, ServeRequestFiles, engine);
        thread->Start();
    } else {
        ServeRequestFiles(engine, base);
    }
    Sleep(ServerConstants::AfterDispatchMs);
    PurgeFiles(ServerFolder() + "\\*.*_*", Now() - ServerConstants::StaleDays);
}

// Lets the request threads finish and their clients, which poll every
// 50 ms, collect what was published meanwhile; a response nobody collects
// holds the stop up for at most half a second.
void AwaitRequestThreads() {
    TDateTime deadline = Now() + FinishRequestsSeconds * OneSecond;
    bool waited = false;
    while (ActiveRequestThreads.load() > 0 && Now() < deadline) {
        Sleep(ServerConstants::PollMs);
        waited = true;
    }
    if (!waited) return;
    deadline = Now() + 0.5 * OneSecond;
    TSearchRec info;
    while (FindFileInfo(ServerFilePrefix() + "*_rsp", faAnyFile, info) == 0 && Now() < deadline)
        Sleep(ServerConstants::PollMs);
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
    PurgeFiles(base + "cnf", Now() + 1.0);
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
        while (FileExists(AliveFileName())) {
            if (StopMessageWaiting()) break;
            ProcessMessages();
            DispatchNextRequest(engine);
        }
        CallLastExecRequest();
    } catch (const std::exception& e) {
        HttpLog(std::string("Server loop: ") + e.what());
    }
    AwaitRequestThreads();
    PurgeFiles(ServerFilePrefix() + "*", Now() + 1.0);
    ClearWindowTitle(ServerFolder(), ServerWindowTitle());
    HttpTerminate();
    HaltProcess(0);
}

void WaitForRequestFile(TStream*& input, TStream*& output, TStringList*& variables) {
    input = nullptr;
    output = nullptr;
    variables = nullptr;
    StartServer();
    std::string requestFile;
    while (requestFile.empty()) {
        if (!FileExists(AliveFileName())) {
            Sleep(ServerConstants::PollMs);
            if (FileExists(AliveFileName())) return;
            NormalExit(0);
        }
        requestFile = FindRequestFile();
        if (requestFile.empty()) Sleep(ServerConstants::PollMs);
    }
    const std::string base = ClaimRequest(requestFile);
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
