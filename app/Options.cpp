#include "app/Options.h"

#include <cmath>
#include <cstring>

#include "app/qv_unit.h"
#include "gateway/engine/Helpers.h"
#include "gateway/engine/HttpEng.h"
#include "platform/Exception.h"
#include "platform/Files.h"

namespace {
template <std::size_t Max>
void LimitLength(TShortString<Max>& field) {
    if (field.Length > Max) field.Length = static_cast<std::uint8_t>(Max);
}

// Reads at most OptionsRecordSize bytes: a larger file is not read whole.
bool ReadOptionsFile(const std::string& path, std::string& data) {
    const THandle handle = FileOpen(path, fmOpenRead | fmShareDenyNone);
    if (handle == INVALID_HANDLE_VALUE) return false;
    data.assign(OptionsRecordSize, '\0');
    std::size_t filled = 0;
    bool ok = true;
    while (filled < OptionsRecordSize) {
        const int n = FileRead(handle, data.data() + filled, static_cast<int>(OptionsRecordSize - filled));
        if (n < 0) ok = false;
        if (n <= 0) break;
        filled += static_cast<std::size_t>(n);
    }
    FileClose(handle);
    data.resize(filled);
    return ok;
}

void AppendLine(const std::string& path, const std::string& text) {
    if (!AppendToFile(path, text + "\r\n")) throw EFileError("Cannot append to file " + path);
}
}  // namespace

void DecodeOptions(std::string_view data, TOptionsRecord& record) {
    const std::size_t n = data.size() < OptionsRecordSize ? data.size() : OptionsRecordSize;
    std::memcpy(reinterpret_cast<unsigned char*>(&record), data.data(), n);
    LimitLength(record.host);
    LimitLength(record.userid);
    LimitLength(record.fromaddress);
    LimitLength(record.password);
    LimitLength(record.errormail);
    LimitLength(record.ignoreip);
    LimitLength(record.notifyip);
}

std::string EncodeOptions(const TOptionsRecord& record) {
    return std::string(reinterpret_cast<const char*>(&record), OptionsRecordSize);
}

std::string OptionsBaseName() {
    const std::string executable = ExecutableFileName();
    const std::string name = FileNameOfPath(executable);
    return PathOfFile(executable) + name.substr(0, name.find('.'));
}

std::string OptionsFileName() { return OptionsBaseName() + ".opt"; }

std::string HitLogFileName(TDateTime when) {
    const std::string stamp = DateToMMDDYY(when);
    return OptionsBaseName() + stamp.substr(0, 2) + stamp.substr(4, 2) + ".log";
}

std::string TraceFileName() { return PathOfFile(ExecutableFileName()) + "Tunewright.tst"; }

std::string HitLogLine(TDateTime when, const std::string& remoteHost) {
    std::string line = DateToStr(when);
    if (when != std::floor(when)) {
        line += ' ';
        line += TimeToStr(when);
    }
    line += remoteHost;
    return line;
}

void LoadOptions() {
    const std::string path = OptionsFileName();
    if (FileExists(path)) {
        std::string data;
        if (!ReadOptionsFile(path, data)) throw EFileError("Cannot read file " + path);
        DecodeOptions(data, Options);
        return;
    }
    Options.host.Length = 0;
    Options.userid.Length = 0;
    Options.fromaddress.Length = 0;
    Options.password.Length = 0;
    Options.ignoreip.Length = 0;
    Options.diagnostics = 1;
}

void SaveOptions() {
    const std::string path = OptionsFileName();
    if (!WriteFileAtomic(path, EncodeOptions(Options))) throw EFileError("Cannot write file " + path);
}

void WriteTrace(const std::string& text) { WriteTraceLines(text + "\r\n"); }

void WriteTraceLines(const std::string& lines) {
    if (Options.diagnostics == 0) return;
    const std::string path = TraceFileName();
    if (!AppendBounded(path, lines, LogFileLimit)) throw EFileError("Cannot append to file " + path);
}

void LogHit() {
    const TDateTime now = Now();
    AppendLine(HitLogFileName(now), HitLogLine(now, HttpServerVariable("REMOTE_HOST")));
}
