#pragma once
// Sockets on 127.0.0.1 for tests, and a message pump with a deadline.
#include <cstdint>
#include <functional>

#include <netinet/in.h>
#include <sys/socket.h>

namespace support {

// The address of a loopback port.
sockaddr_in LoopbackAddress(std::uint16_t port);
// A socket listening on a free loopback port, which port receives.
int ListenLoopback(int backlog, std::uint16_t& port);
// A port on which nothing listens (bound and closed again).
std::uint16_t FreePort(int type = SOCK_STREAM);
// A blocking socket connected to the loopback port; -1 when refused.
int ConnectLoopback(std::uint16_t port);

// Pumps the calling thread's message queue until done() or the deadline;
// true when done.
bool PumpUntil(const std::function<bool()>& done, int milliseconds = 5000);

}  // namespace support
