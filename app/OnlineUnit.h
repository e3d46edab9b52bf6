#pragma once
// The application: the main form with its components, the request handler
// and the process-wide state the pages share.
#include <string>

#include "platform/Forms.h"

class TGeneralHttpEngine;
class TSmtpClient;
class TUdpEndpoint;

class TMainform : public TForm {
public:
    explicit TMainform(TComponent* owner);

    // Owned by the form. The application sends no mail and no datagrams;
    // UDP1 is absent when its socket could not be opened.
    TGeneralHttpEngine* GeneralHttpEngine1 = nullptr;
    TSmtpClient* SmtpClient1 = nullptr;
    TUdpEndpoint* UDP1 = nullptr;

    void GeneralHttpEngine1ExecRequest(TObject* Sender);
    void SmtpClient1Status(TObject* Sender, const std::string& Msg);

    // Pages, each in its own module.
    void ShowGenrePage();     // GenrePage.cpp
    void ShowNoGenrePage();   // Playlist.cpp
    void ShowPlaylistPage();  // Playlist.cpp
    void BuildMusicIndex();   // MusicIndex.cpp

private:
    void CreateHttpEngine();
    void CreateSmtpClient();
    void CreateUdpEndpoint();
};

extern TMainform* Mainform;
// For a GET request: the query string, less the command letter once taken.
// Each thread has its own: a host process runs requests on several threads
// at once.
extern thread_local std::string QueryText;

// The first character of QueryText, removed from it; a blank when it is
// empty.
char NextCommandLetter();
// The manager page's gate: passes when the stored password occurs in
// QueryText, when none is stored, or when the field "password" equals it;
// otherwise writes "Password Error" and the footer and fails.
bool CheckPassword();
void WriteFooter();
// The content type of every page. Genre and song names go into the pages as
// the file system gives them, which on Linux is UTF-8; without the charset a
// browser would read them in its own legacy encoding.
inline constexpr const char* PageContentType = "text/html; charset=utf-8";

// The operator functions (ManagerPages.cpp).
void ShowManagerPage();
void ShowReport();
void SetDiagnostics(bool on);
void SetLogRecording(bool on);

// The program's main sequence after the gateway units have started: the
// application object, Mainform (whose engine serves the request when the
// form is created), qv, then the message loop.
void RunApplication();
// The same sequence without the message loop, for a host process: there the
// host's threads bring the requests.
void CreateApplication();
// Playlist.cpp
void GeneratePlaylist();
