#include "app/GenrePage.h"

#include "app/MusicIndex.h"
#include "app/PageChrome.h"
#include "app/qv_unit.h"
#include "gateway/engine/HttpEng.h"
#include "gateway/engine/UrlEncoded.h"

namespace {
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

// The browser hands the radio's name back unescaped, form-encoded.
std::string GenreRow(const std::string& genre) {
    const std::string name = HtmlEscape(genre);
    return "<tr><td>" + name + "</td><td><input type=\"radio\" name=\"" + name + "\" value=\"AddGenre\"></td></tr>";
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
