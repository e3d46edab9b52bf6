#include "app/Music.h"
#include "app/OnlineUnit.h"
#include "app/qv_unit.h"
#include "gateway/engine/HttpEng.h"

namespace {
// The form posts back to the program itself over plain HTTP.
std::string FormTarget() { return "http://" + HttpServerVariable("HTTP_HOST") + HttpServerVariable("SCRIPT_NAME"); }

void WriteFormHead() {
    HttpWrite("<center><h2>Marbeck Ballroom Playlist Builder</h2></center>");
    HttpWrite("<br><center>Build your own custom Playlist with the selections below<br>");
    HttpWrite("A new random playlist is created each time you use this tool.<br>");
    HttpWrite("<form action=\"" + FormTarget() + "\" method=\"post\">");
    HttpWrite("<input name=\"command\" type=\"hidden\" value=\"playlistgen\">");
    HttpWrite("<center><table border=1><tr>");
    HttpWrite("<td><b> Select the Genres for your Playlist </b></td><td></td></tr>");
    HttpWrite("<br><br>");
}

// One row per line of "folders.txt", in file order, named by its last path
// component.
void WriteGenreRows() {
    TStringList folders;
    folders.LoadFromFile(ProgramFolder() + "folders.txt");
    for (const auto& folder : folders.Lines()) HttpWrite(GenreRow(FileNameOfPath(folder)));
}

void WriteSongCountRows() {
    HttpWrite("<tr><td> &nbsp </td><td> &nbsp </td></tr>");
    HttpWrite("<tr><td><b>Maximum Number of songs for playlist &nbsp</b></td><td></td></tr>");
    HttpWrite("<tr><td>15</td><td><input type=\"radio\" name=\"numsongs\" value=\"15\"></td></tr>");
    HttpWrite("<tr><td>25</td><td><input type=\"radio\" name=\"numsongs\" value=\"25\" checked></td></tr>");
    HttpWrite("<tr><td>50</td><td><input type=\"radio\" name=\"numsongs\" value=\"50\"></td></tr>");
    HttpWrite("<tr><td>75</td><td><input type=\"radio\" name=\"numsongs\" value=\"75\"></td></tr>");
    HttpWrite(
        "</table><br><input value=\"Build Playlist\" type=\"submit\"> &nbsp &nbsp <input value=\"Clear Above "
        "Selections\" type=reset></form>");
    HttpWrite("</center>");
}
}  // namespace

void StartHtmlPage() {
    if (THttpEngine* engine = CurrentHttpEngine()) engine->SetAutoContentType("text/html");
}

std::string GenreRow(const std::string& genre) {
    return "<tr><td>" + genre + "</td><td><input type=\"radio\" name=\"" + genre + "\" value=\"AddGenre\"></td></tr>";
}

void WritePlaylistBuilderHead() {
    HttpWrite("<html><head><meta name=\"Generator\" content=\"Valsetto\">");
    HttpWrite("<title>Valsetto Playlist Generator</title>");
    WriteStyleBlock();
    HttpWrite("</head><body bgcolor=\"#000000\" link=\"FF0000\" vlink=\"#FF0000\" text=\"#FF0066\">");
}

// The index is rebuilt first so the genre rows follow the folders on disk;
// its report block comes before the form in the same response.
void WriteGenreSelectionPage() {
    RunMusicIndex();
    StartHtmlPage();
    WritePlaylistBuilderHead();
    WriteFormHead();
    WriteGenreRows();
    WriteSongCountRows();
    WriteFooter();
}

void TMainform::ShowGenrePage() { WriteGenreSelectionPage(); }

void WriteStyleBlock() {
    static const char* const lines[] = {
        "<style type=\"text/css\">",
        "<!--",
        "#butt {",
        "   display: block;",
        "   height: 40px; ",
        "    width: 100px; ",
        "    background: #34696f; ",
        "    border: 2px solid rgba(33, 68, 72, 0.59);",
        "   color: rgba(255, 255, 255, 0.55); ",
        "   text-align: center; ",
        "   font: bold 20px/40px \"Helvetica Neue\", Arial, Helvetica, Geneva, sans-serif; ",
        "  text-shadow: 0 2px 2px rgba(255, 255, 255, 0.2);",
        "}",
        "a.button2 {  ",
        "   text-decoration: none; ",
        "} ",
        "a.button:hover { ",
        "   background: #3d7a80;",
        "   background: -webkit-linear-gradient(top, #3d7a80, #2f5f63); ",
        "   background: -moz-linear-gradient(top, #3d7a80, #2f5f63);",
        "  background: -o-linear-gradient(top, #3d7a80, #2f5f63); ",
        "   background: -ms-linear-gradient(top, #3d7a80, #2f5f63);",
        "   background: linear-gradient(top, #3d7a80, #2f5f63);",
        "}",
        "-->",
        "</style>",
        "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">",
    };
    for (const char* line : lines) HttpWrite(line);
}
