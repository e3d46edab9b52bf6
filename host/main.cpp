// isapi-fcgi: serves an in-process extension as a FastCGI responder.
//
//   isapi-fcgi [-t N] [-b BYTES] (-s /path/unix.sock | -p PORT) extension.so
//
// -b is the largest request body accepted (1 MiB, as the shipped server
// configurations allow); a longer one is refused with 413 before a byte
// of it is read.
// Without -s and -p it accepts on the listening socket a web server passes
// as standard input, which other processes may share. SIGTERM, SIGINT or
// SIGHUP stops it: no new requests, running ones finish (bounded), its own
// descriptor of the socket is closed, then TerminateExtension and exit code 0.
#include <fcgiapp.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/Extension.h"
#include "host/Listen.h"
#include "host/Pool.h"
#include "host/Request.h"
#include "platform/Landlock.h"

namespace {
constexpr int MaxThreads = 256;
constexpr auto DrainTime = std::chrono::seconds(20);

struct TCommandLine {
    int Threads = 4;
    std::uint32_t BodyLimit = DefaultBodyLimit;
    std::string SocketPath;
    int Port = 0;
    std::string Extension;
};

[[noreturn]] void Usage(const char* why) {
    std::fprintf(stderr, "isapi-fcgi: %s\nusage: isapi-fcgi [-t N] [-b BYTES] (-s /path/unix.sock | -p PORT) extension.so\n",
                 why);
    std::exit(2);
}

int Number(const char* text, int low, int high, const char* what) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < low || value > high)
        Usage((std::string(what) + " must be a number in " + std::to_string(low) + ".." + std::to_string(high)).c_str());
    return static_cast<int>(value);
}

TCommandLine Parse(int argc, char** argv) {
    TCommandLine line;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) Usage(("option " + option + " needs a value").c_str());
        if (option == "-t")
            line.Threads = Number(argv[++i], 1, MaxThreads, "-t");
        else if (option == "-b")
            line.BodyLimit = static_cast<std::uint32_t>(Number(argv[++i], 0, INT32_MAX, "-b"));
        else if (option == "-s")
            line.SocketPath = argv[++i];
        else if (option == "-p")
            line.Port = Number(argv[++i], 1, 65535, "-p");
        else
            Usage(("unknown option " + option).c_str());
    }
    if (i + 1 != argc) Usage("give exactly one extension file");
    if (!line.SocketPath.empty() && line.Port != 0) Usage("give -s or -p, not both");
    line.Extension = argv[i];
    return line;
}

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "isapi-fcgi: %s\n", message.c_str());
    std::exit(1);
}

int OpenListener(const TCommandLine& line) {
    std::string error;
    int fd = 0;
    if (!line.SocketPath.empty())
        fd = ListenUnix(line.SocketPath, error);
    else if (line.Port != 0)
        fd = ListenLoopback(line.Port, error);
    else if (!IsListeningSocket(0))
        error = "standard input is no listening socket: give -s or -p";
    if (fd < 0 || !error.empty()) Fail(error);
    return fd;
}

// The extension's folders only, as the CGI program confines itself: its own
// folder, the gateway log's (CGI_LOG_DIR, relative to that folder unless
// absolute) and the genre-page folders beside it; and removing the socket
// file at the end. Nothing changes on a kernel without Landlock.
void Confine(const TCommandLine& line) {
    std::string extension = line.Extension;
    if (extension.empty() || extension[0] != '/') {
        char here[4096];
        if (getcwd(here, sizeof here) == nullptr) return;
        extension = std::string(here) + "/" + extension;
    }
    const std::string folder = extension.substr(0, extension.rfind('/'));
    const char* log = std::getenv("CGI_LOG_DIR");
    std::string logFolder = log != nullptr ? log : "";
    if (!logFolder.empty() && logFolder[0] != '/' && logFolder[0] != '\\') logFolder = folder + "/" + logFolder;
    TConfinement rules = ProgramFolderConfinement(folder, logFolder, "");
    if (!line.SocketPath.empty()) rules.RemoveIn.push_back(line.SocketPath.substr(0, line.SocketPath.rfind('/') + 1));
    static_cast<void>(ConfineProcess(rules));
}

// The stop signals are taken by sigwait on the main thread only.
sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}
}  // namespace

int main(int argc, char** argv) {
    const TCommandLine line = Parse(argc, argv);
    std::signal(SIGPIPE, SIG_IGN);
    const sigset_t stop = StopSignals();
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    if (FCGX_Init() != 0) Fail("the FastCGI library could not start");
    const int listenFd = OpenListener(line);
    TExtension extension;
    std::string error;
    if (!LoadExtension(line.Extension, extension, error)) Fail(error);
    Confine(line);  // before the workers start: they inherit it

    TWorkerPool pool(listenFd, extension, line.BodyLimit);
    pool.Start(line.Threads);
    int signal = 0;
    while (signal == 0) {
        const timespec tick{1, 0};
        signal = sigtimedwait(&stop, nullptr, &tick);
        if (signal < 0) signal = 0;
        // Every worker gone on its own: the listening socket failed.
        if (signal == 0 && pool.WaitEnded(std::chrono::milliseconds(0))) Fail("the listening socket failed");
    }
    if (!pool.Stop(DrainTime)) {
        std::fprintf(stderr, "isapi-fcgi: requests still running after %lld s; ending without unloading\n",
                     static_cast<long long>(DrainTime.count()));
        std::_Exit(1);
    }
    pool.Join();
    close(listenFd);
    extension.TerminateExtension(HSE_TERM_MUST_UNLOAD);
    if (!line.SocketPath.empty()) unlink(line.SocketPath.c_str());
    return 0;
}
