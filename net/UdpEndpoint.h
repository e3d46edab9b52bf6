#pragma once
// A UDP socket bound to a local port on all local addresses that reports
// each datagram arriving there. It offers receiving only: RemoteHost and
// RemotePort are stored settings.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/SocketComponent.h"
#include "platform/Exception.h"
#include "platform/Forms.h"
#include "platform/MessageLoop.h"
#include "platform/Sockets.h"
#include "platform/Streams.h"

class UDPSockError : public Exception {
public:
    using Exception::Exception;
};

// NumberBytes is -1 when the datagram could not be read (one longer than
// the 2048-byte buffer); FromIP is then empty.
using TOnReceive = std::function<void(TComponent* Sender, std::int32_t NumberBytes, const std::string& FromIP)>;
using TStreamInvalid = std::function<void(TObject* Sender, bool& handled, TStream* Stream)>;
using TBuffInvalid = std::function<void(TObject* Sender, bool& handled, char& Buff, std::int32_t& length)>;

class TUdpEndpoint : public TComponent {
public:
    static constexpr int kBufferSize = 2048;

    // Starts the socket layer and opens an unbound socket; raises
    // UDPSockError when that fails.
    explicit TUdpEndpoint(TComponent* owner);
    ~TUdpEndpoint() override;

    // Published.
    std::string RemoteHost;
    std::int32_t RemotePort = 0;
    std::int32_t LocalPort() const { return localPort_; }
    // Closes the socket, opens a new one and binds it to the port (Loaded).
    void SetLocalPort(std::int32_t value);
    std::int32_t ReportLevel = 1;
    TOnReceive OnDataReceived;
    TNotifyEvent OnDataSend;
    TOnStatus OnStatus;
    THandlerEvent OnInvalidHost;
    TStreamInvalid OnStreamInvalid;
    TBuffInvalid OnBufferInvalid;

    std::string Status;
    std::int32_t LastErrorNo = 0;

    // Binds to LocalPort on all local addresses and selects read
    // notifications. A failed bind (port taken, or privileged) is not
    // reported: the endpoint then receives nothing.
    void Loaded() override;
    void ReportStatus(int level, const std::string& text);
    void CheckError(int expected);

    // The last datagram read (its length is the last count reported).
    const char* Buffer() const { return buffer_; }
    std::int32_t LastCount() const { return lastCount_; }

private:
    void OpenSocket();
    LRESULT WindowProc(std::uint32_t msg, WPARAM wParam, LPARAM lParam);
    void ReadDatagram();

    std::int32_t localPort_ = 0;
    TSocket socket_ = INVALID_SOCKET;
    char buffer_[kBufferSize] = {};
    std::int32_t lastCount_ = 0;
    bool initialized_ = false;
    bool startedWinsock_ = false;
    std::unique_ptr<THiddenWindow> window_;
};
