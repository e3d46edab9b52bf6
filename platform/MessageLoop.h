#pragma once
// Window messages on Linux. Every thread that owns windows has one message
// queue; the application window and every hidden window created on the
// program's main thread (the thread that started the process or loaded the
// library) share the main queue. A hidden window is a handler object with an
// id: messages posted to the id are delivered, one at a time and in order, by
// ProcessMessages on the thread that created the window. Window timers,
// descriptor readiness (the socket layer) and messages posted from other
// threads or from signal handlers all arrive through the same queue.
#include <cstdint>
#include <exception>
#include <functional>

using HWND = std::uint32_t;  // 0 is no window
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

constexpr std::uint32_t WM_CLOSE = 16;
constexpr std::uint32_t WM_QUIT = 18;
constexpr std::uint32_t WM_SYSCOMMAND = 274;
constexpr std::uint32_t WM_TIMER = 275;
constexpr std::uint32_t WM_USER = 1024;

struct TMessage {
    HWND Window = 0;
    std::uint32_t Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
};

using TWindowProc = std::function<LRESULT(std::uint32_t msg, WPARAM wParam, LPARAM lParam)>;

// The application window, owned by the main queue. Its messages go to the
// procedure set here; while none is set they stay waiting in the queue, where
// PeekMessage sees them (the resident server's loop looks for 16, 18, 274).
HWND ApplicationHandle();
void SetApplicationWindowProc(TWindowProc proc);

// A hidden window owned by the calling thread's queue. DeallocateHWnd drops
// its waiting messages and timers; messages posted to it later are refused.
HWND AllocateHWnd(TWindowProc proc);
void DeallocateHWnd(HWND window);

// RAII owner of a hidden window.
class THiddenWindow {
public:
    explicit THiddenWindow(TWindowProc proc) : handle_(AllocateHWnd(std::move(proc))) {}
    ~THiddenWindow() { DeallocateHWnd(handle_); }
    THiddenWindow(const THiddenWindow&) = delete;
    THiddenWindow& operator=(const THiddenWindow&) = delete;
    HWND Handle() const { return handle_; }

private:
    HWND handle_;
};

// Appends a message to the queue of the window's thread; any thread may call
// it. False when the window does not exist.
bool PostMessage(HWND window, std::uint32_t msg, WPARAM wParam, LPARAM lParam);

// Async-signal-safe post to a window of the main queue (the application
// window above all): one write of a fixed-size record on the main queue's
// self-pipe, read into the queue by the next ProcessMessages, PeekMessage or
// WaitMessage on the main thread. False when the pipe is full (the message is
// lost) or could not be made. Call PrepareSignalPosting once before
// installing the handlers that use it.
bool PostMessageFromSignal(HWND window, std::uint32_t msg, WPARAM wParam, LPARAM lParam) noexcept;
[[nodiscard]] bool PrepareSignalPosting();

// The first waiting message of the calling thread's queue addressed to window
// (0: any window) with a number in first..last, left in the queue. Messages
// posted through the self-pipe are taken into the queue first.
[[nodiscard]] bool PeekMessage(TMessage& message, HWND window, std::uint32_t first, std::uint32_t last);

// Removes the waiting messages of window with this number and wParam.
void RemoveMessages(HWND window, std::uint32_t msg, WPARAM wParam);

// Polls descriptors and timers without waiting, then delivers the messages
// that were waiting when it began (messages posted meanwhile wait for the
// next call, so a handler that always posts again cannot hold it forever).
// Exceptions a window procedure raises go to HandleApplicationException. On
// a thread without a queue it does nothing.
void ProcessMessages();
// Waits at most boundMilliseconds until something may be delivered: a posted
// message, a due timer, a descriptor event. Returns at once when a message
// that ProcessMessages would deliver is waiting.
void WaitMessage(std::uint32_t boundMilliseconds = 50);

// Window timers: WM_TIMER with wParam id, at most one waiting per timer. A
// second SetTimer with the same id restarts it. False when the window does not
// exist or the interval is 0.
[[nodiscard]] bool SetTimer(HWND window, std::uintptr_t id, std::uint32_t intervalMilliseconds);
bool KillTimer(HWND window, std::uintptr_t id);

// The application's exception handler; by default the message goes to
// standard error with the prefix "Exception: ".
using TExceptionHandler = std::function<void(const std::exception& e)>;
void SetApplicationExceptionHandler(TExceptionHandler handler);
void HandleApplicationException(const std::exception& e);

// For the socket layer: a descriptor polled by its owner window's queue.
// WantedEvents is asked before each poll (0 leaves the descriptor out);
// Ready runs on the owner's thread with the events that occurred.
constexpr unsigned kPollRead = 1, kPollWrite = 2, kPollPriority = 4, kPollPeerClosed = 8;
constexpr unsigned kPollHangup = 16, kPollError = 32;
class TDescriptorWatch {
public:
    virtual ~TDescriptorWatch() = default;
    virtual int Descriptor() const = 0;
    virtual unsigned WantedEvents() = 0;
    virtual void Ready(unsigned events) = 0;
};
// A watch is removed with RemoveWatch or when its owner window goes.
[[nodiscard]] bool AddWatch(HWND owner, TDescriptorWatch* watch);
void RemoveWatch(TDescriptorWatch* watch);
