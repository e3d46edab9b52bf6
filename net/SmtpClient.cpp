#include "net/SmtpClient.h"

#include "net/SmtpReply.h"

namespace {
// A server that answers every "HELO" with 299 would be greeted forever.
constexpr int kMaxHelo = 10;
}  // namespace

TSmtpClient::TSmtpClient(TComponent* owner) : TSocketComponent(owner) {
    Port = 25;
    ReadAbortHook = [this] { ReadAbort(); };
}

TSmtpClient::~TSmtpClient() { BeginDestroy(); }

void TSmtpClient::ReadContinuation(std::string& reply) {
    while (IsContinuationLine(reply)) reply = ReadLn();
}

void TSmtpClient::ReadGreeting() {
    std::string reply = ReadLn();
    ReplyNumber = ParseReplyNumber(reply);
    ReadContinuation(reply);
    if (ReplyNumber >= 400) throw Exception(reply);
}

// "HELO" until the server accepts it: a refusal may be handled once.
void TSmtpClient::Handshake() {
    ReadGreeting();
    int attempts = 0;
    for (int helo = 1;; ++helo) {
        std::string reply = Transaction("HELO " + UserID);
        ReadContinuation(reply);
        if (ReplyNumber < 299) return;
        if (ReplyNumber >= 300) {
            if (attempts > 0 || !OnAuthenticationFailed) throw Exception("Authentication failed");
            bool handled = false;
            OnAuthenticationFailed(this, handled);
            if (!handled) throw Exception("Authentication failed");
            ++attempts;
        }
        if (helo >= kMaxHelo) throw Exception("Authentication failed");
    }
}

void TSmtpClient::Connect() {
    const bool setHere = !connecting_;
    connecting_ = true;
    try {
        TSocketComponent::Connect();
        try {
            Handshake();
        } catch (const std::exception&) {
            // The handshake's own failure is what the caller needs to see;
            // a failing "QUIT" on the way out must not replace it.
            try {
                Disconnect();
            } catch (const std::exception&) {
            }
            throw;
        }
    } catch (...) {
        if (setHere) connecting_ = false;
        throw;
    }
    if (setHere) connecting_ = false;
    if (OnConnect) OnConnect(this);
}

void TSmtpClient::Disconnect() {
    Canceled = false;
    try {
        Transaction("QUIT");
        if (ReplyNumber > 339) throw Exception(ReplyText);
    } catch (...) {
        TSocketComponent::Disconnect();
        throw;
    }
    TSocketComponent::Disconnect();
}

void TSmtpClient::Abort() {
    if (Canceled || !Connected) return;
    if (connecting_) {
        Cancel();
        return;
    }
    TSocketComponent::Disconnect();
    ClearReceiveBuffer();
}

void TSmtpClient::ReadAbort() {
    TSocketComponent::Disconnect();
    ClearReceiveBuffer();
}
