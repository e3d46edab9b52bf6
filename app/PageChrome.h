#pragma once
// What the application's pages share: the content type, the heads, the
// style block, the form target and the footer.
#include <string>

// The content type of every page. Genre and song names go into the pages as
// the file system gives them, which on Linux is UTF-8; without the charset a
// browser would read them in its own legacy encoding.
inline constexpr const char* PageContentType = "text/html; charset=utf-8";

// Sets the current engine's content type to the pages' HTML type, as every
// page does before it writes.
void StartHtmlPage();
// Writes the fixed style and viewport block of the playlist-builder pages.
void WriteStyleBlock();
// The head of the playlist-builder pages up to the opening body tag.
void WritePlaylistBuilderHead();
// The address the forms post back to: the program itself over plain HTTP.
std::string FormTarget();
void WriteFooter();
