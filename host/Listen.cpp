#include "host/Listen.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
constexpr int Backlog = 128;

int Fail(int fd, const std::string& what, std::string& error) {
    error = what + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return -1;
}
}  // namespace

int ListenUnix(const std::string& path, std::string& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        error = "the socket path is empty or longer than " + std::to_string(sizeof address.sun_path - 1) + " bytes";
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode)) {
            error = path + " exists and is not a socket";
            return -1;
        }
        unlink(path.c_str());
    }
    // The socket is made under a name of its own and renamed into place once
    // it listens: a client that finds the name is never refused.
    const std::string made = path + ".new";
    const bool renamed = made.size() < sizeof address.sun_path;
    if (renamed) {
        std::memcpy(address.sun_path, made.c_str(), made.size() + 1);
        unlink(made.c_str());
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return Fail(fd, "socket", error);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return Fail(fd, "bind " + path, error);
    if (listen(fd, Backlog) != 0) return Fail(fd, "listen " + path, error);
    if (renamed && rename(made.c_str(), path.c_str()) != 0) {
        const int failed = errno;
        unlink(made.c_str());
        errno = failed;
        return Fail(fd, "rename to " + path, error);
    }
    return fd;
}

int ListenLoopback(int port, std::string& error) {
    if (port < 1 || port > 65535) {
        error = "the port must lie in 1..65535";
        return -1;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return Fail(fd, "socket", error);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return Fail(fd, "bind 127.0.0.1:" + std::to_string(port), error);
    if (listen(fd, Backlog) != 0) return Fail(fd, "listen", error);
    return fd;
}

bool IsListeningSocket(int fd) {
    int listening = 0;
    socklen_t size = sizeof listening;
    return getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) == 0 && listening != 0;
}
