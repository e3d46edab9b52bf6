#include "app/PageChrome.h"

#include "gateway/engine/HttpEng.h"

void StartHtmlPage() {
    if (THttpEngine* engine = CurrentHttpEngine()) engine->SetAutoContentType(PageContentType);
}

// The forms post back to the program itself over plain HTTP.
std::string FormTarget() { return "http://" + HttpServerVariable("HTTP_HOST") + HttpServerVariable("SCRIPT_NAME"); }

void WritePlaylistBuilderHead() {
    HttpWrite("<html><head><meta name=\"Generator\" content=\"Valsetto\">");
    HttpWrite("<title>Valsetto Playlist Generator</title>");
    WriteStyleBlock();
    HttpWrite("</head><body bgcolor=\"#000000\" link=\"FF0000\" vlink=\"#FF0000\" text=\"#FF0066\">");
}

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

void WriteFooter() {
    HttpWrite(
        "<br><br><br><p><center><font size=-2>Valsetto - 2026, "
        "<a href=\"mailto:valsetto@example.org\">write to the maker</a></font></center></body></html>");
}
