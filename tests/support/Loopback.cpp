#include "tests/support/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>

#include "platform/MessageLoop.h"

namespace support {

sockaddr_in LoopbackAddress(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

namespace {

std::uint16_t BoundPort(int fd) {
    sockaddr_in a{};
    socklen_t n = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
    return ntohs(a.sin_port);
}

int BindLoopback(int type) {
    const int fd = socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a = LoopbackAddress(0);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
}
}  // namespace

int ListenLoopback(int backlog, std::uint16_t& port) {
    const int fd = BindLoopback(SOCK_STREAM);
    listen(fd, backlog);
    port = BoundPort(fd);
    return fd;
}

std::uint16_t FreePort(int type) {
    const int fd = BindLoopback(type);
    const std::uint16_t port = BoundPort(fd);
    close(fd);
    return port;
}

int ConnectLoopback(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = LoopbackAddress(port);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    close(fd);
    return -1;
}

bool PumpUntil(const std::function<bool()>& done, int milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        WaitMessage(5);
        ProcessMessages();
    }
    return true;
}

}  // namespace support
