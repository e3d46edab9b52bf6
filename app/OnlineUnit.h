#pragma once
// The application: the main form with its components, the request handler
// and the process-wide state the pages share.
#include <string>

#include "platform/Forms.h"

class TGeneralHttpEngine;

class TMainform : public TForm {
public:
    explicit TMainform(TComponent* owner);

    TGeneralHttpEngine* GeneralHttpEngine1 = nullptr;

    void GeneralHttpEngine1ExecRequest(TObject* Sender);
    void SmtpClient1Status(TObject* Sender, const std::string& Msg);

    // Pages, each in its own module.
    void ShowGenrePage();     // GenrePage.cpp
    void ShowNoGenrePage();   // Playlist.cpp
    void ShowPlaylistPage();  // Playlist.cpp
    void BuildMusicIndex();   // MusicIndex.cpp
};

extern TMainform* Mainform;
// For a GET request: the query string, less the command letter once taken.
extern std::string QueryText;

char NextCommandLetter();
bool CheckPassword();
void WriteFooter();
// Playlist.cpp
void GeneratePlaylist();
