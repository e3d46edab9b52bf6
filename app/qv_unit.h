#pragma once
// The common routines: small string, path and date helpers over 8-bit
// strings with Windows-form paths ("\" as separator, most routines also
// accept "/"). They hold no state and never touch the Tqv instance, so they
// are plain functions: a request is served before qv exists, and in CGI
// operation qv is never created.
#include <string>

#include "platform/DateTime.h"
#include "platform/Forms.h"

// head := the text before the first delimiter and text := what follows it
// (at most 20000 characters); without a delimiter head is the whole text and
// text is left as it was.
void SplitHead(const std::string& delimiter, std::string& text, std::string& head);

// Six characters MMDDYY: month and day padded to two digits, then the third
// and fourth characters of the year written in decimal.
std::string DateToMMDDYY(TDateTime date);
std::string TodayMMDDYY();
// Four characters MMYY of today: names the monthly hit log.
std::string MonthYearStamp();

// An empty name stays empty; otherwise the name ends in "\".
std::string AddTrailingBackslash(const std::string& folder);
// The folder part with its trailing separator; a name without the chosen
// separator comes back whole.
std::string PathOfFile(const std::string& path);
// PathOfFile of the executable's path without a leading "\\?\".
std::string ProgramFolder();
// The last component ("" when the path ends in a separator); each step keeps
// at most 255 characters after the separator it found.
std::string FileNameOfPath(const std::string& path);
// The name cut before its last "."; unchanged without one.
std::string StripExtension(const std::string& name);
// Replaces search (found ignoring the case of A-Z; an empty search is never
// found) by replacement, every occurrence or the first. The search hits are
// first turned into markers of four 0xA4 bytes and the markers then into the
// replacement, so a replacement that contains the search text does not loop.
// Marker bytes already in the text are replaced as well.
std::string ReplaceText(const std::string& text, const std::string& search, const std::string& replacement,
                        bool all);

// The common-routines form: never shown, no fields, no controls.
class Tqv : public TForm {
public:
    explicit Tqv(TComponent* owner) : TForm(owner) {}
};

extern Tqv* qv;
