#pragma once
// Real peers on 127.0.0.1 for the network component tests: a scripted TCP
// server on a thread of its own, a port that accepts no connection, the
// Debian aiosmtpd server as a child process, and a pump with a deadline.
// Every wait here is bounded.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/Exception.h"
#include "platform/MessageLoop.h"
#include "tests/support/Children.h"
#include "tests/support/Failures.h"
#include "tests/support/Loopback.h"

extern char** environ;

namespace peers {

using Clock = std::chrono::steady_clock;
using support::FailureOf;
using support::FreePort;
using support::ListenLoopback;
using support::PumpUntil;

// Calls action from the message loop after milliseconds: what a handler of
// the application would do while a blocking call waits.
class TLater {
public:
    TLater(int milliseconds, std::function<void()> action)
        : action_(std::move(action)), window_([this](std::uint32_t msg, WPARAM, LPARAM) {
              if (msg == WM_TIMER && !fired_) {
                  fired_ = true;
                  KillTimer(window_.Handle(), 1);
                  action_();
              }
              return LRESULT{0};
          }) {
        (void)SetTimer(window_.Handle(), 1, static_cast<std::uint32_t>(milliseconds));
    }
    bool Fired() const { return fired_; }

private:
    std::function<void()> action_;
    bool fired_ = false;
    THiddenWindow window_;
};

// A listening port whose accept queue is full: a further connect is never
// answered (its SYN is dropped).
class TSilentPort {
public:
    TSilentPort() {
        listener_ = ListenLoopback(0, Port);
        filler_ = support::ConnectLoopback(Port);
    }
    ~TSilentPort() {
        close(filler_);
        close(listener_);
    }
    std::uint16_t Port = 0;

private:
    int listener_ = -1;
    int filler_ = -1;
};

// One step of a scripted conversation: send text, or wait for one line
// from the client (recorded), or close the connection.
struct TStep {
    enum { Send, Expect, Close } Kind;
    std::string Text;
};
inline TStep Send(std::string text) { return TStep{TStep::Send, std::move(text)}; }
inline TStep Expect() { return TStep{TStep::Expect, {}}; }
inline TStep Close() { return TStep{TStep::Close, {}}; }

// Accepts one connection and plays the script; each step waits at most 5 s.
// Received() holds the lines the client sent (with their CR LF) and, after
// the script, whatever else came before the client closed.
class TScriptedPeer {
public:
    explicit TScriptedPeer(std::vector<TStep> script) : script_(std::move(script)) {
        listener_ = ListenLoopback(4, Port);
        thread_ = std::thread([this] { Run(); });
    }
    ~TScriptedPeer() {
        stop_ = true;
        thread_.join();
        close(listener_);
    }
    std::vector<std::string> Received() {
        std::lock_guard lock(mutex_);
        return received_;
    }
    std::string Rest() {
        std::lock_guard lock(mutex_);
        return rest_;
    }
    bool Finished() const { return finished_; }
    std::uint16_t Port = 0;

private:
    bool WaitReadable(int fd) {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (!stop_ && Clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 20) > 0) return true;
        }
        return false;
    }
    bool ReadLine(int fd, std::string& pending, std::string& line) {
        for (;;) {
            const auto end = pending.find('\n');
            if (end != std::string::npos) {
                line = pending.substr(0, end + 1);
                pending.erase(0, end + 1);
                return true;
            }
            if (!WaitReadable(fd)) return false;
            char buffer[4096];
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) return false;
            pending.append(buffer, static_cast<std::size_t>(n));
        }
    }
    void Run() {
        if (!WaitReadable(listener_)) return;
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return;
        std::string pending;
        bool open = true;
        for (const TStep& step : script_) {
            if (step.Kind == TStep::Send) {
                if (send(fd, step.Text.data(), step.Text.size(), MSG_NOSIGNAL) < 0) break;
            } else if (step.Kind == TStep::Expect) {
                std::string line;
                if (!ReadLine(fd, pending, line)) break;
                std::lock_guard lock(mutex_);
                received_.push_back(line);
            } else {
                close(fd);
                open = false;
                break;
            }
        }
        if (open) {
            // Collect what else comes until the client closes (bounded).
            char buffer[65536];
            while (WaitReadable(fd)) {
                const ssize_t n = read(fd, buffer, sizeof buffer);
                if (n <= 0) break;
                std::lock_guard lock(mutex_);
                rest_.append(buffer, static_cast<std::size_t>(n));
            }
            close(fd);
        }
        finished_ = true;
    }

    std::vector<TStep> script_;
    int listener_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> finished_{false};
    std::mutex mutex_;
    std::vector<std::string> received_;
    std::string rest_;
};

// Debian's aiosmtpd on a free loopback port, started for one test and
// stopped by its pid.
class TSmtpServer {
public:
    static bool Available() {
        return access("/usr/bin/python3", X_OK) == 0 &&
               std::system("/usr/bin/python3 -c 'import aiosmtpd' >/dev/null 2>&1") == 0;
    }
    TSmtpServer() {
        Port = FreePort();
        const std::string listen = "127.0.0.1:" + std::to_string(Port);
        const char* argv[] = {"/usr/bin/python3", "-m", "aiosmtpd", "-n", "-l", listen.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, const_cast<char**>(argv), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        Ready = pid_ > 0 && WaitListening();
    }
    ~TSmtpServer() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        support::WaitChild(pid_, 5000);
    }
    std::uint16_t Port = 0;
    bool Ready = false;

private:
    bool WaitListening() {
        bool ended = false;
        const bool answered = support::WaitUntil(
            [&] {
                ended = waitpid(pid_, nullptr, WNOHANG) == pid_;
                const int fd = ended ? -1 : support::ConnectLoopback(Port);
                if (fd >= 0) close(fd);
                return ended || fd >= 0;
            },
            15000);
        if (ended) pid_ = -1;
        return answered && !ended;
    }
    pid_t pid_ = -1;
};

}  // namespace peers
