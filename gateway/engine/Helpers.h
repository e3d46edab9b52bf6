#pragma once
// The engine's helpers that know nothing of a request: file names and drives
// in Windows form, the executable's own path, text split into lines, the
// HTTP date and the environment.
#include <memory>
#include <string>
#include <string_view>

#include "platform/DateTime.h"

class TStringList;
struct TSearchRec;

// A new list (the caller's) of text split at CR, LF or CR LF.
std::unique_ptr<TStringList> TextToStringList(std::string_view text);
// RFC 1123 form of a local date-time, e.g. "Sun, 06 Dec 2026 12:00:00 GMT".
std::string FormatHttpDate(TDateTime dateTime);
// An environment variable, empty when absent or longer than 4095 bytes;
// SERVER_SOFTWARE counts as absent when its value contains "ZB".
std::string GetEnvVariable(const std::string& name);
// A path from the folder of basePath (or dir with a drive), a name and an
// extension taken from basePath or fileName; see the definition for the rules.
std::string ComposeFileName(const std::string& basePath, const std::string& dir, bool takeBaseName,
                            const std::string& fileName, bool takeBaseExt, const std::string& ext);
// The folder of a path without its last separator ("\", "/" or ":"), and the
// name after that separator.
std::string PathFolder(const std::string& path);
std::string PathName(const std::string& path);
std::string ExecutableFileName();
// The first match of a directory search; the search's result code (0 found).
int FindFileInfo(const std::string& path, int attributes, TSearchRec& info);
std::string ReplaceChar(char from, char to, std::string_view text);
// The path unchanged when it has a drive; here a relative path stays relative.
std::string AddSystemDrive(const std::string& path);
// Whether a path names a drive: "X:\" at its start, or a leading "\" or "/".
bool HasDrive(std::string_view path);
