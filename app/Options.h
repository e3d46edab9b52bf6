#pragma once
// The options record and the files the application keeps beside its
// executable: the options file, the monthly hit log and the diagnostic trace.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/DateTime.h"

// A length-prefixed string slot of Max characters: one length byte, then the
// characters; bytes past the length carry no meaning.
template <std::size_t Max>
struct TShortString {
    std::uint8_t Length = 0;
    char Chars[Max] = {};

    // At most Max characters, whatever the length byte claims.
    std::string Value() const { return std::string(Chars, Length < Max ? Length : Max); }
    // Stores at most Max characters of text.
    void Assign(std::string_view text) {
        const std::size_t n = text.size() < Max ? text.size() : Max;
        text.copy(Chars, n);
        Length = static_cast<std::uint8_t>(n);
    }
};

// The whole content of the options file, byte for byte: 1160 bytes, no
// header. A flag is 0 for off, anything else for on.
struct TOptionsRecord {
    TShortString<255> host;
    TShortString<120> userid;
    TShortString<255> fromaddress;
    std::uint8_t diagnostics = 0;
    TShortString<25> password;
    TShortString<255> errormail;
    TShortString<120> ignoreip;
    TShortString<120> notifyip;
    std::uint8_t logging = 0;
    std::uint8_t reserved = 0;  // carried over unchanged
};
constexpr std::size_t OptionsRecordSize = 1160;
static_assert(sizeof(TOptionsRecord) == OptionsRecordSize);

// The record of the request the calling thread serves; concurrent requests
// in a host process each read and change their own.
extern thread_local TOptionsRecord Options;

// Copies up to 1160 bytes of data over the start of record; the bytes a
// shorter file does not hold keep their previous content, bytes past 1160
// are ignored. A length byte above its slot's maximum is cut to the maximum,
// so no string runs into the next field.
void DecodeOptions(std::string_view data, TOptionsRecord& record);
std::string EncodeOptions(const TOptionsRecord& record);

// Executable folder + executable file name cut before its first ".".
std::string OptionsBaseName();
std::string OptionsFileName();
std::string HitLogFileName(TDateTime when);
std::string TraceFileName();
// Local short date, blank, long time (no time at exactly midnight), then the
// client's host with no separator.
std::string HitLogLine(TDateTime when, const std::string& remoteHost);

// Fills Options from the options file, or sets the defaults (strings empty,
// diagnostics on) when there is none; writes nothing. Raises EFileError when
// the file exists but cannot be read.
void LoadOptions();
// Replaces the options file with Options; a reader sees the old record or the
// new one, never a part. Raises EFileError when it cannot be written.
void SaveOptions();
// Appends text as one line to the trace while Options.diagnostics is on.
void WriteTrace(const std::string& text);
// Appends lines that already end in CR LF, in one piece, while diagnostics
// are on.
void WriteTraceLines(const std::string& lines);
// Appends the hit line of this request to this month's hit log.
void LogHit();
