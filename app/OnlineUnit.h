#pragma once
// The application: the main form with its components and the request
// handler that dispatches to the pages.
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

    // The pages, each written by its own module.
    void ShowGenrePage();
    void ShowNoGenrePage();
    void ShowPlaylistPage();
    void BuildMusicIndex();

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

// The program's main sequence after the gateway units have started: the
// application object, Mainform (whose engine serves the request when the
// form is created), qv, then the message loop.
void RunApplication();
// The same sequence without the message loop, for a host process: there the
// host's threads bring the requests.
void CreateApplication();
