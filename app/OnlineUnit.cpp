#include "app/OnlineUnit.h"

#include "app/GenrePage.h"
#include "app/ManagerPages.h"
#include "app/MusicIndex.h"
#include "app/Options.h"
#include "app/PageChrome.h"
#include "app/Playlist.h"
#include "app/qv_unit.h"
#include "gateway/engine/Helpers.h"
#include "gateway/frontends/GenEng.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/engine/ProcessRole.h"
#include "net/SmtpClient.h"
#include "net/UdpEndpoint.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/Random.h"

TMainform* Mainform = nullptr;
thread_local std::string QueryText;
thread_local TOptionsRecord Options;
Tqv* qv = nullptr;

namespace {
// Nothing in the program writes this file; every request removes it.
const char* const StaleMarkerName = "PostMusic.tst";

void RunCommandLetter(TMainform& form, char letter) {
    switch (letter) {
        case 'D': SetDiagnostics(true); break;
        case 'd': SetDiagnostics(false); break;
        case 'F': SetLogRecording(true); break;
        case 'f': SetLogRecording(false); break;
        case 'I': form.BuildMusicIndex(); break;
        case 'P': form.ShowGenrePage(); break;
        case 'S': ShowReport(); break;
        case 'X': ShowManagerPage(); break;
        default: break;  // any other letter, and the blank of an empty query, writes nothing
    }
}
}  // namespace

// The component values are the program's fixed configuration, set in their
// stored order; every other property keeps its class default.
TMainform::TMainform(TComponent* owner) : TForm(owner) {
    CreateHttpEngine();
    CreateSmtpClient();
    CreateUdpEndpoint();
}

void TMainform::CreateHttpEngine() {
    GeneralHttpEngine1 = new TGeneralHttpEngine(this);
    GeneralHttpEngine1->Name = "GeneralHttpEngine1";
    GeneralHttpEngine1->AllowedMethods.SetGet(true);
    GeneralHttpEngine1->AllowedMethods.SetPut(false);
    GeneralHttpEngine1->AllowedMethods.SetPost(true);
    GeneralHttpEngine1->SetAutoContentType(PageContentType);
    GeneralHttpEngine1->SetDebugMode(NoDebug);
    GeneralHttpEngine1->SetNoCache(false);
    GeneralHttpEngine1->SetTempDir("Temp");
    GeneralHttpEngine1->SetBufferedOutput(true);
    GeneralHttpEngine1->SetCGIAutoTerminate(true);
    GeneralHttpEngine1->SetOnExecRequest([this](TObject* Sender) { GeneralHttpEngine1ExecRequest(Sender); });
}

void TMainform::CreateSmtpClient() {
    SmtpClient1 = new TSmtpClient(this);
    SmtpClient1->Name = "SmtpClient1";
    SmtpClient1->Port = 25;
    SmtpClient1->ReportLevel = 2;
    SmtpClient1->EncodeType = UUMethods::uuMime;
    SmtpClient1->ClearParams = true;
    SmtpClient1->SubType = TSubType::mtPlain;
    SmtpClient1->OnStatus = [this](TComponent* Sender, const std::string& Status) { SmtpClient1Status(Sender, Status); };
}

// Nothing in the application uses the endpoint, so a socket that cannot be
// opened must not keep the request from being served: the endpoint is then
// absent, or present without a socket. A port that cannot be bound (taken,
// or privileged) is no error for the endpoint itself.
void TMainform::CreateUdpEndpoint() {
    try {
        UDP1 = new TUdpEndpoint(this);
        UDP1->Name = "UDP1";
        UDP1->RemotePort = 81;
        UDP1->SetLocalPort(81);
        UDP1->ReportLevel = 0;
    } catch (const UDPSockError&) {
    }
}

void TMainform::GeneralHttpEngine1ExecRequest(TObject*) {
    // Every request draws from a seed of its own.
    SeedRandom();
    // A missing file or a refused deletion does not matter.
    (void)DeleteFile(PathOfFile(ExecutableFileName()) + StaleMarkerName);
    // Every page is HTML.
    GeneralHttpEngine1->SetAutoContentType(PageContentType);
    // A thread of a host process serves request after request: each
    // starts from the record a new process has, so what an earlier request
    // loaded (fields a shorter or missing file leaves alone) never shows.
    if (InHostProcess()) Options = TOptionsRecord{};
    LoadOptions();
    // Only a GET carries a command letter. The comparison is exact: "get"
    // takes the other path.
    if (HttpServerVariable("REQUEST_METHOD") != "GET") {
        // A post builds a playlist when its form says so; any other post
        // writes nothing.
        if (HttpFieldValue("command", "") == "playlistgen") {
            LogHit();
            GeneratePlaylist();
        }
        return;
    }
    // The command letter leads the query; what follows it (a password, a
    // month) stays in QueryText for the page it selects.
    QueryText = HttpServerVariable("QUERY_STRING");
    WriteTrace(QueryText);
    RunCommandLetter(*this, NextCommandLetter());
}

void TMainform::ShowGenrePage() { WriteGenreSelectionPage(); }
void TMainform::ShowNoGenrePage() { WriteNoGenrePage(); }
void TMainform::ShowPlaylistPage() { WriteStoredPlaylistPage(); }
void TMainform::BuildMusicIndex() { RunMusicIndex(TIndexScan::Full); }

void TMainform::SmtpClient1Status(TObject*, const std::string& Msg) { WriteTrace("SMTP Status " + Msg); }

char NextCommandLetter() {
    if (QueryText.empty()) return ' ';
    const char letter = QueryText.front();
    QueryText.erase(0, 1);
    return letter;
}

void CreateApplication() {
    Application = new TApplication;
    Application->Initialize();
    Application->CreateForm(Mainform);
    Application->CreateForm(qv);
}

void RunApplication() {
    CreateApplication();
    Application->Run();
}
