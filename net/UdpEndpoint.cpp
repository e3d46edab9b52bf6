#include "net/UdpEndpoint.h"

#include <cstdio>

#include "platform/SysUtils.h"

namespace {

std::string DottedAddress(std::uint32_t networkOrder) {
    const auto* b = reinterpret_cast<const unsigned char*>(&networkOrder);
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return text;
}

}  // namespace

TUdpEndpoint::TUdpEndpoint(TComponent* owner) : TComponent(owner) {
    window_ = std::make_unique<THiddenWindow>(
        [this](std::uint32_t msg, WPARAM w, LPARAM l) { return WindowProc(msg, w, l); });
    ReportStatus(8, "Initializing Winsock");
    TWSAData data;
    if (WSAStartup(0x0101, data) != 0) {
        CheckError(WSAEWOULDBLOCK);
    } else {
        startedWinsock_ = true;
        try {
            OpenSocket();
            (void)SocketSetLinger(socket_, false, 0);
        } catch (...) {
            WSACleanup();
            startedWinsock_ = false;
            throw;
        }
    }
    initialized_ = true;
}

// The socket is closed as well: left open it would hold the port for the
// rest of the process.
TUdpEndpoint::~TUdpEndpoint() {
    window_.reset();
    if (socket_ != INVALID_SOCKET) SocketClose(socket_);
    if (startedWinsock_) WSACleanup();
}

void TUdpEndpoint::OpenSocket() {
    socket_ = SocketOpen(kAfInet, kSockDgram, 0);
    if (socket_ == INVALID_SOCKET) {
        CheckError(WSAEWOULDBLOCK);
        throw UDPSockError("Unknown Error No. " + IntToStr(LastErrorNo));
    }
}

void TUdpEndpoint::SetLocalPort(std::int32_t value) {
    if (socket_ != INVALID_SOCKET) SocketClose(socket_);
    socket_ = INVALID_SOCKET;
    if (startedWinsock_) WSACleanup();
    TWSAData data;
    startedWinsock_ = WSAStartup(0x0101, data) == 0;
    if (!startedWinsock_) CheckError(WSAEWOULDBLOCK);
    try {
        OpenSocket();
    } catch (...) {
        if (startedWinsock_) WSACleanup();
        startedWinsock_ = false;
        throw;
    }
    localPort_ = value;
    Loaded();
}

void TUdpEndpoint::Loaded() {
    TComponent::Loaded();
    if (Designing() || socket_ == INVALID_SOCKET) return;
    TSockAddrIn local;
    local.Family = kAfInet;
    local.Port = HostToNetShort(static_cast<std::uint16_t>(localPort_));
    local.Addr = 0;
    (void)SocketBind(socket_, local);  // a port held elsewhere: nothing arrives
    (void)WSAAsyncSelect(socket_, window_->Handle(), 1125, FD_READ);
}

void TUdpEndpoint::ReportStatus(int level, const std::string& text) {
    if (ReportLevel < level) return;
    Status = text;
    if (OnStatus) OnStatus(this, Status);
}

void TUdpEndpoint::CheckError(int expected) {
    ReportStatus(16, "Checking Error In Error Manager");
    LastErrorNo = WSAGetLastError();
    if (LastErrorNo == expected) return;
    const std::string message = "Unknown Error No. " + IntToStr(LastErrorNo);
    ReportStatus(8, "Looking Up Error Message" + message);
    throw UDPSockError(message);
}

void TUdpEndpoint::ReadDatagram() {
    TSockAddrIn from;
    lastCount_ = SocketRecvFrom(socket_, buffer_, kBufferSize, &from);
    if (!OnDataReceived) return;  // read and dropped
    const std::string fromIP = lastCount_ >= 0 ? DottedAddress(from.Addr) : "";
    OnDataReceived(this, lastCount_, fromIP);
}

LRESULT TUdpEndpoint::WindowProc(std::uint32_t msg, WPARAM wParam, LPARAM lParam) {
    if (!initialized_ || msg != 1125) return 0;
    if (static_cast<TSocket>(wParam) != socket_) return 0;
    if (SelectEvent(lParam) == FD_READ) ReadDatagram();
    return 0;
}
