#pragma once
// What the application's pages share: the content type, the heads, the
// style block, the form target and the footer.
#include <string>

// Sets the current engine's content type to "text/html", as every page does
// before it writes.
void StartHtmlPage();
// Writes the fixed style and viewport block of the playlist-builder pages.
void WriteStyleBlock();
// The head of the playlist-builder pages up to the opening body tag.
void WritePlaylistBuilderHead();
// The address the forms post back to: the program itself over plain HTTP.
std::string FormTarget();
void WriteFooter();
