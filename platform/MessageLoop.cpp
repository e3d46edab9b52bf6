#include "platform/MessageLoop.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct TTimer {
    HWND Window;
    std::uintptr_t Id;
    std::uint32_t Interval;
    Clock::time_point Due;
    bool Pending;  // its WM_TIMER waits in the queue
};

struct TWatchEntry {
    HWND Owner;
    TDescriptorWatch* Watch;
};

// One self-pipe record; a record for window 0 only wakes the owner thread.
// 24 bytes, below PIPE_BUF, so each write lands whole.
struct TPipeRecord {
    std::uint32_t Window;
    std::uint32_t Msg;
    std::uint64_t WParam;
    std::int64_t LParam;
};

struct TQueue {
    std::mutex Mutex;
    std::deque<TMessage> Messages;
    std::vector<TTimer> Timers;
    std::vector<TWatchEntry> Watches;
    std::thread::id Thread = std::this_thread::get_id();
    int PipeRead = -1;
    int PipeWrite = -1;
    std::vector<char> Carry;  // a record split across two reads

    TQueue() {
        int fds[2];
        if (pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0) {
            PipeRead = fds[0];
            PipeWrite = fds[1];
        }
    }
    ~TQueue() {
        if (PipeRead >= 0) close(PipeRead);
        if (PipeWrite >= 0) close(PipeWrite);
    }
    TQueue(const TQueue&) = delete;
    TQueue& operator=(const TQueue&) = delete;
};

struct TWindow {
    std::shared_ptr<TQueue> Queue;
    TWindowProc Proc;
};

constexpr HWND kApplicationWindow = 1;

struct TRegistry {
    std::mutex Mutex;
    std::unordered_map<HWND, TWindow> Windows;
    HWND Next = kApplicationWindow + 1;
    TExceptionHandler ExceptionHandler;
};

TRegistry& Registry() {
    static TRegistry registry;
    return registry;
}

// The main queue is made during static initialisation, so on the thread that
// started the process or loaded the library, before any other use.
std::shared_ptr<TQueue>& MainQueue() {
    static std::shared_ptr<TQueue> queue = [] {
        auto q = std::make_shared<TQueue>();
        TRegistry& r = Registry();
        std::lock_guard lock(r.Mutex);
        r.Windows[kApplicationWindow] = TWindow{q, {}};
        return q;
    }();
    return queue;
}
// The main queue's pipe for the signal poster, which may take no lock.
int gSignalPipe = -1;
const bool gMainQueueMade = [] {
    gSignalPipe = MainQueue()->PipeWrite;
    return true;
}();

// A forked child gets a self-pipe of its own: with the parent's, either
// process would read the other's posted messages and signals (a close
// message meant for one ending the other's wait). Only async-signal-safe
// calls here.
void RenewMainPipeInChild() {
    TQueue& q = *MainQueue();
    if (q.PipeRead >= 0) close(q.PipeRead);
    if (q.PipeWrite >= 0) close(q.PipeWrite);
    int fds[2];
    const bool made = pipe2(fds, O_NONBLOCK | O_CLOEXEC) == 0;
    q.PipeRead = made ? fds[0] : -1;
    q.PipeWrite = made ? fds[1] : -1;
    gSignalPipe = q.PipeWrite;
}
const bool gForkHandled = [] { return pthread_atfork(nullptr, nullptr, RenewMainPipeInChild) == 0; }();

thread_local std::shared_ptr<TQueue> tQueue;

TQueue* CurrentQueue(bool create) {
    if (!tQueue) {
        const auto& main = MainQueue();
        if (main->Thread == std::this_thread::get_id())
            tQueue = main;
        else if (create)
            tQueue = std::make_shared<TQueue>();
    }
    return tQueue.get();
}

std::shared_ptr<TQueue> QueueOf(HWND window) {
    TRegistry& r = Registry();
    std::lock_guard lock(r.Mutex);
    auto it = r.Windows.find(window);
    return it == r.Windows.end() ? nullptr : it->second.Queue;
}

void WakeQueue(TQueue& q) {
    if (q.PipeWrite < 0 || q.Thread == std::this_thread::get_id()) return;
    const TPipeRecord wake{0, 0, 0, 0};
    // A full pipe already wakes the owner: a lost wake record is harmless.
    [[maybe_unused]] ssize_t n = write(q.PipeWrite, &wake, sizeof wake);
}

// Takes the records waiting in the self-pipe into the queue.
void DrainPipe(TQueue& q) {
    if (q.PipeRead < 0) return;
    char buffer[sizeof(TPipeRecord) * 64];
    for (int round = 0; round < 64; ++round) {
        const ssize_t n = read(q.PipeRead, buffer, sizeof buffer);
        if (n <= 0) return;
        std::lock_guard lock(q.Mutex);
        q.Carry.insert(q.Carry.end(), buffer, buffer + n);
        std::size_t used = 0;
        for (; used + sizeof(TPipeRecord) <= q.Carry.size(); used += sizeof(TPipeRecord)) {
            TPipeRecord record;
            std::memcpy(&record, q.Carry.data() + used, sizeof record);
            if (record.Window != 0)
                q.Messages.push_back(TMessage{record.Window, record.Msg, static_cast<WPARAM>(record.WParam),
                                              static_cast<LPARAM>(record.LParam)});
        }
        q.Carry.erase(q.Carry.begin(), q.Carry.begin() + static_cast<std::ptrdiff_t>(used));
    }
}

void PostDueTimers(TQueue& q) {
    const auto now = Clock::now();
    std::lock_guard lock(q.Mutex);
    for (TTimer& t : q.Timers) {
        if (t.Pending || now < t.Due) continue;
        q.Messages.push_back(TMessage{t.Window, WM_TIMER, t.Id, 0});
        t.Pending = true;
        t.Due = now + std::chrono::milliseconds(t.Interval);
    }
}

// The events a watch may ask for, each with its poll bit; hang-up and error
// are reported whether asked for or not.
struct TPollBit {
    unsigned Ours;
    short Poll;
};
constexpr TPollBit kPollBits[] = {
    {kPollRead, POLLIN}, {kPollWrite, POLLOUT}, {kPollPriority, POLLPRI}, {kPollPeerClosed, POLLRDHUP}};

short ToPollEvents(unsigned wanted) {
    short events = 0;
    for (const TPollBit& bit : kPollBits)
        if (wanted & bit.Ours) events |= bit.Poll;
    return events;
}

unsigned FromPollEvents(short revents) {
    unsigned events = 0;
    for (const TPollBit& bit : kPollBits)
        if (revents & bit.Poll) events |= bit.Ours;
    if (revents & POLLHUP) events |= kPollHangup;
    if (revents & (POLLERR | POLLNVAL)) events |= kPollError;
    return events;
}

// Watches are added and removed on their owner's thread, so the snapshot
// stays valid while WantedEvents runs; Ready is only called for a watch that
// is still registered, since an earlier Ready may have removed it.
bool StillWatched(TQueue& q, TDescriptorWatch* watch) {
    std::lock_guard lock(q.Mutex);
    return std::any_of(q.Watches.begin(), q.Watches.end(), [&](const TWatchEntry& e) { return e.Watch == watch; });
}

// Polls the pipe and the watched descriptors; with timeout 0 it reports the
// ready descriptors to their watches, else it only waits.
void PollDescriptors(TQueue& q, int timeoutMs) {
    std::vector<TDescriptorWatch*> watches;
    {
        std::lock_guard lock(q.Mutex);
        for (const TWatchEntry& e : q.Watches) watches.push_back(e.Watch);
    }
    std::vector<pollfd> fds;
    std::vector<TDescriptorWatch*> polled;
    if (timeoutMs > 0 && q.PipeRead >= 0) {
        fds.push_back(pollfd{q.PipeRead, POLLIN, 0});
        polled.push_back(nullptr);
    }
    for (TDescriptorWatch* w : watches) {
        const short events = ToPollEvents(w->WantedEvents());
        if (events == 0) continue;
        fds.push_back(pollfd{w->Descriptor(), events, 0});
        polled.push_back(w);
    }
    if (fds.empty()) {
        if (timeoutMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
        return;
    }
    const int n = poll(fds.data(), fds.size(), timeoutMs);
    if (n <= 0 || timeoutMs > 0) return;
    for (std::size_t i = 0; i < fds.size(); ++i)
        if (fds[i].revents != 0 && polled[i] && StillWatched(q, polled[i])) polled[i]->Ready(FromPollEvents(fds[i].revents));
}

// A message is delivered when its window has a procedure; the application
// window's messages wait while it has none. Messages of windows that are gone
// are dropped. Called with the queue locked.
bool TakeDeliverable(TQueue& q, TMessage& message, TWindowProc& proc) {
    TRegistry& r = Registry();
    std::lock_guard lock(r.Mutex);
    for (auto it = q.Messages.begin(); it != q.Messages.end();) {
        auto w = r.Windows.find(it->Window);
        if (w == r.Windows.end()) {
            it = q.Messages.erase(it);
            continue;
        }
        if (!w->second.Proc) {
            ++it;
            continue;
        }
        message = *it;
        proc = w->second.Proc;
        q.Messages.erase(it);
        return true;
    }
    return false;
}

std::size_t CountDeliverable(TQueue& q) {
    std::lock_guard queueLock(q.Mutex);
    TRegistry& r = Registry();
    std::lock_guard lock(r.Mutex);
    return static_cast<std::size_t>(std::count_if(q.Messages.begin(), q.Messages.end(), [&](const TMessage& m) {
        auto w = r.Windows.find(m.Window);
        return w == r.Windows.end() || static_cast<bool>(w->second.Proc);
    }));
}

void Deliver(TQueue& q, std::size_t budget) {
    for (std::size_t i = 0; i < budget; ++i) {
        TMessage message;
        TWindowProc proc;
        {
            std::lock_guard lock(q.Mutex);
            if (!TakeDeliverable(q, message, proc)) return;
            if (message.Msg == WM_TIMER)
                for (TTimer& t : q.Timers)
                    if (t.Window == message.Window && t.Id == message.WParam) t.Pending = false;
        }
        try {
            proc(message.Msg, message.WParam, message.LParam);
        } catch (const std::exception& e) {
            HandleApplicationException(e);
        }
    }
}

}  // namespace

HWND ApplicationHandle() {
    MainQueue();
    return kApplicationWindow;
}

void SetApplicationWindowProc(TWindowProc proc) {
    MainQueue();
    TRegistry& r = Registry();
    std::lock_guard lock(r.Mutex);
    r.Windows[kApplicationWindow].Proc = std::move(proc);
}

HWND AllocateHWnd(TWindowProc proc) {
    TQueue* q = CurrentQueue(true);
    TRegistry& r = Registry();
    std::lock_guard lock(r.Mutex);
    const HWND handle = r.Next++;
    r.Windows[handle] = TWindow{tQueue, proc ? std::move(proc) : TWindowProc([](std::uint32_t, WPARAM, LPARAM) {
                                                                      return LRESULT{0};
                                                                  })};
    (void)q;
    return handle;
}

void DeallocateHWnd(HWND window) {
    if (window == 0 || window == kApplicationWindow) return;
    std::shared_ptr<TQueue> q;
    {
        TRegistry& r = Registry();
        std::lock_guard lock(r.Mutex);
        auto it = r.Windows.find(window);
        if (it == r.Windows.end()) return;
        q = it->second.Queue;
        r.Windows.erase(it);
    }
    std::lock_guard lock(q->Mutex);
    std::erase_if(q->Messages, [&](const TMessage& m) { return m.Window == window; });
    std::erase_if(q->Timers, [&](const TTimer& t) { return t.Window == window; });
    std::erase_if(q->Watches, [&](const TWatchEntry& e) { return e.Owner == window; });
}

bool PostMessage(HWND window, std::uint32_t msg, WPARAM wParam, LPARAM lParam) {
    std::shared_ptr<TQueue> q = QueueOf(window);
    if (!q) return false;
    {
        std::lock_guard lock(q->Mutex);
        q->Messages.push_back(TMessage{window, msg, wParam, lParam});
    }
    WakeQueue(*q);
    return true;
}

bool PrepareSignalPosting() {
    MainQueue();
    return gSignalPipe >= 0;
}

bool PostMessageFromSignal(HWND window, std::uint32_t msg, WPARAM wParam, LPARAM lParam) noexcept {
    if (gSignalPipe < 0 || window == 0) return false;
    const int savedErrno = errno;
    const TPipeRecord record{window, msg, static_cast<std::uint64_t>(wParam), static_cast<std::int64_t>(lParam)};
    const bool written = write(gSignalPipe, &record, sizeof record) == static_cast<ssize_t>(sizeof record);
    errno = savedErrno;
    return written;
}

bool PeekMessage(TMessage& message, HWND window, std::uint32_t first, std::uint32_t last) {
    TQueue* q = CurrentQueue(false);
    if (!q) return false;
    DrainPipe(*q);
    std::lock_guard lock(q->Mutex);
    for (const TMessage& m : q->Messages) {
        if ((window == 0 || m.Window == window) && m.Msg >= first && m.Msg <= last) {
            message = m;
            return true;
        }
    }
    return false;
}

void RemoveMessages(HWND window, std::uint32_t msg, WPARAM wParam) {
    std::shared_ptr<TQueue> q = QueueOf(window);
    if (!q) return;
    std::lock_guard lock(q->Mutex);
    std::erase_if(q->Messages, [&](const TMessage& m) { return m.Window == window && m.Msg == msg && m.WParam == wParam; });
}

void ProcessMessages() {
    TQueue* q = CurrentQueue(false);
    if (!q) return;
    DrainPipe(*q);
    PostDueTimers(*q);
    PollDescriptors(*q, 0);
    Deliver(*q, CountDeliverable(*q));
}

void WaitMessage(std::uint32_t boundMilliseconds) {
    TQueue* q = CurrentQueue(false);
    if (!q) {
        std::this_thread::sleep_for(std::chrono::milliseconds(boundMilliseconds));
        return;
    }
    if (CountDeliverable(*q) > 0) return;
    auto timeout = std::chrono::milliseconds(boundMilliseconds);
    {
        const auto now = Clock::now();
        std::lock_guard lock(q->Mutex);
        for (const TTimer& t : q->Timers) {
            if (t.Pending) continue;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(t.Due - now);
            timeout = std::clamp(left, std::chrono::milliseconds(0), timeout);
        }
    }
    if (timeout.count() > 0) PollDescriptors(*q, static_cast<int>(timeout.count()));
}

bool SetTimer(HWND window, std::uintptr_t id, std::uint32_t intervalMilliseconds) {
    if (intervalMilliseconds == 0) return false;
    std::shared_ptr<TQueue> q = QueueOf(window);
    if (!q) return false;
    std::lock_guard lock(q->Mutex);
    std::erase_if(q->Timers, [&](const TTimer& t) { return t.Window == window && t.Id == id; });
    std::erase_if(q->Messages, [&](const TMessage& m) { return m.Window == window && m.Msg == WM_TIMER && m.WParam == id; });
    q->Timers.push_back(TTimer{window, id, intervalMilliseconds,
                               Clock::now() + std::chrono::milliseconds(intervalMilliseconds), false});
    return true;
}

bool KillTimer(HWND window, std::uintptr_t id) {
    std::shared_ptr<TQueue> q = QueueOf(window);
    if (!q) return false;
    std::lock_guard lock(q->Mutex);
    const auto removed = std::erase_if(q->Timers, [&](const TTimer& t) { return t.Window == window && t.Id == id; });
    std::erase_if(q->Messages, [&](const TMessage& m) { return m.Window == window && m.Msg == WM_TIMER && m.WParam == id; });
    return removed > 0;
}

void SetApplicationExceptionHandler(TExceptionHandler handler) {
    TRegistry& r = Registry();
    std::lock_guard lock(r.Mutex);
    r.ExceptionHandler = std::move(handler);
}

void HandleApplicationException(const std::exception& e) {
    TExceptionHandler handler;
    {
        TRegistry& r = Registry();
        std::lock_guard lock(r.Mutex);
        handler = r.ExceptionHandler;
    }
    if (handler) {
        handler(e);
        return;
    }
    const std::string text = std::string("Exception: ") + e.what() + "\n";
    [[maybe_unused]] ssize_t n = write(2, text.data(), text.size());
}

bool AddWatch(HWND owner, TDescriptorWatch* watch) {
    std::shared_ptr<TQueue> q = QueueOf(owner);
    if (!q || !watch) return false;
    std::lock_guard lock(q->Mutex);
    for (const TWatchEntry& e : q->Watches)
        if (e.Watch == watch) return true;
    q->Watches.push_back(TWatchEntry{owner, watch});
    return true;
}

void RemoveWatch(TDescriptorWatch* watch) {
    std::vector<std::shared_ptr<TQueue>> queues;
    {
        TRegistry& r = Registry();
        std::lock_guard lock(r.Mutex);
        for (const auto& [handle, window] : r.Windows)
            if (std::find(queues.begin(), queues.end(), window.Queue) == queues.end()) queues.push_back(window.Queue);
    }
    for (const auto& q : queues) {
        std::lock_guard lock(q->Mutex);
        std::erase_if(q->Watches, [&](const TWatchEntry& e) { return e.Watch == watch; });
    }
}
