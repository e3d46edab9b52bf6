#pragma once
// The listening socket the host accepts FastCGI connections on.
#include <string>

// A Unix socket at path; a stale socket file there is replaced, any other
// file is left alone and refused. -1 with a message in error on failure.
int ListenUnix(const std::string& path, std::string& error);
// A TCP socket on 127.0.0.1:port, never on another address.
int ListenLoopback(int port, std::string& error);
// Whether fd is a listening socket (the one a web server hands over as
// standard input).
bool IsListeningSocket(int fd);
