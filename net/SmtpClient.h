#pragma once
// The SMTP client: a socket component that opens a conversation with a mail
// server (greeting, "HELO") and closes it ("QUIT"), and carries the
// description of a mail message and the settings for sending it. No
// operation here transmits a message: the message and the settings are
// configuration only.
#include <cstdint>
#include <functional>
#include <string>

#include "net/SocketComponent.h"
#include "platform/StringList.h"

enum class UUMethods { uuMime, uuCode };
enum class TSubType { mtPlain, mtEnriched, mtSgml, mtTabSeperated, mtHtml };

class TExStringList : public TStringList {
public:
    using TStringList::TStringList;
};

// A mail message. Its lists are owned; assigning one copies the lines in.
class TPostMessage : public TObject {
public:
    std::string FromAddress;
    std::string FromName;
    TStringList ToAddress;
    TStringList ToCarbonCopy;
    TStringList ToBlindCarbonCopy;
    TStringList Body;
    TStringList Attachments;
    std::string Subject;
    std::string LocalProgram;
    std::string Date;
    std::string ReplyTo;
};

using TRecipientNotFound = std::function<void(TObject* Sender, const std::string& Recipient)>;
using THeaderInComplete = std::function<void(TObject* Sender, bool& handled, std::int32_t hiType)>;
using TFileItem = std::function<void(TObject* Sender, const std::string& Filename)>;
using TMailListReturn = std::function<void(TObject* Sender, const std::string& MailAddress)>;

class TSmtpClient : public TSocketComponent {
public:
    // Port 25.
    explicit TSmtpClient(TComponent* owner);
    ~TSmtpClient() override;

    // Published, besides the socket's.
    TNotifyEvent OnPacketSent;
    THandlerEvent OnConnectionRequired;
    // The client's own event, raised after a successful handshake (the
    // socket's OnConnect, raised when the connection is made, is hidden).
    TNotifyEvent OnConnect;
    std::string UserID;  // sent with "HELO "
    TPostMessage PostMessage;
    TExStringList FinalHeader;
    UUMethods EncodeType = UUMethods::uuMime;
    bool ClearParams = true;
    TSubType SubType = TSubType::mtPlain;
    TRecipientNotFound OnRecipientNotFound;
    THeaderInComplete OnHeaderIncomplete;
    TNotifyEvent OnSendStart;
    TNotifyEvent OnSuccess;
    TNotifyEvent OnFailure;
    TFileItem OnEncodeStart;
    TFileItem OnEncodeEnd;
    TFileItem OnAttachmentNotFound;
    TMailListReturn OnMailListReturn;
    // The server refused "HELO"; a handler that sets Handled (and may
    // change UserID) gets one more "HELO".
    THandlerEvent OnAuthenticationFailed;

    // Connects and runs the handshake. A refused greeting raises Exception
    // with its last line; a refused "HELO" raises "Authentication failed";
    // both after disconnecting with "QUIT".
    void Connect() override;
    // Sends "QUIT" and closes; a reply above 339 raises Exception with the
    // reply line, after the socket has been closed.
    void Disconnect() override;
    void Abort() override;
    // Replaces reply with the following lines of a multi-line reply until
    // its last line.
    void ReadContinuation(std::string& reply);

private:
    void Handshake();
    void ReadGreeting();
    void ReadAbort();
    bool connecting_ = false;
};
