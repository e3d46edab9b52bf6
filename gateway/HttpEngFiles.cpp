// File-name routines, the executable's own path and the gateway log.
#include "gateway/GatewayUnits.h"
#include "gateway/HttpEng.h"
#include "platform/Files.h"
#include "platform/Landlock.h"
#include "platform/MessageLoop.h"
#include "platform/Process.h"
#include "platform/SysUtils.h"

namespace {
bool IsSeparator(char ch) { return ch == '\\' || ch == '/' || ch == ':'; }

// Index just after the last separator, 0 when there is none.
std::size_t NameStart(std::string_view path) {
    for (std::size_t i = path.size(); i > 0; --i)
        if (IsSeparator(path[i - 1])) return i;
    return 0;
}

// One pass: "\.\" becomes "\" and "\\" becomes "\"; reports whether
// anything changed.
bool CollapseOnce(std::string& path) {
    std::string out;
    out.reserve(path.size());
    bool changed = false;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '\\' && i + 2 < path.size() && path[i + 1] == '.' && path[i + 2] == '\\') {
            i += 1;  // the full stop and one backslash go
            changed = true;
        } else if (path[i] == '\\' && i + 1 < path.size() && path[i + 1] == '\\') {
            changed = true;  // one backslash of the pair goes
            continue;
        } else {
            out += path[i];
        }
    }
    path = std::move(out);
    return changed;
}

// Until neither sequence occurs.
std::string CollapseSeparators(std::string path) {
    while (CollapseOnce(path)) {
    }
    return path;
}

std::string FolderWithoutSeparator(const std::string& path) {
    const std::size_t start = NameStart(path);
    return start == 0 ? std::string() : path.substr(0, start - 1);
}
}  // namespace

std::string ComposeFileName(const std::string& BasePath, const std::string& Dir, bool TakeBaseName,
                            const std::string& FileName, bool TakeBaseExt, const std::string& Ext) {
    // 1.
    if (HasDrive(FileName)) return FileName;
    // 2.
    std::string folder;
    if (!HasDrive(Dir)) {
        folder.append(BasePath, 0, NameStart(BasePath));
        folder += '\\';
    }
    folder += Dir;
    folder += '\\';
    // 3.
    std::string name;
    std::string extension;
    const std::string baseName = BasePath.substr(NameStart(BasePath));
    const std::size_t baseDot = baseName.find('.');
    if ((TakeBaseName || TakeBaseExt) && baseDot != std::string::npos) {
        if (TakeBaseName) name = baseName.substr(0, baseDot);
        if (TakeBaseExt) extension = baseName.substr(baseDot + 1);
    }
    // 4.
    const std::size_t dot = FileName.find('.');
    if (dot == std::string::npos) {
        name += FileName;
    } else {
        name += FileName.substr(0, dot);
        if (Ext.empty()) extension += FileName.substr(dot + 1);
    }
    // 5, 6, 7.
    extension += Ext;
    folder += name;
    folder += '.';
    folder += extension;
    return CollapseSeparators(std::move(folder));
}

std::string ExecutableFileName() { return RunningAsLibrary ? ModuleFileName() : ParamStr(0); }

int FindFileInfo(const std::string& Path, int Attributes, TSearchRec& Info) {
    TSearchRec found;
    const int result = FindFirst(Path, Attributes, found);
    if (result == 0) {
        Info.Time = found.Time;
        Info.Size = found.Size;
        Info.Attr = found.Attr;
        Info.Name = found.Name;
        Info.ExcludeAttr = found.ExcludeAttr;
    }
    FindClose(found);
    return result;
}

namespace {
// CGI_LOG_DIR when set, relative to the executable's folder unless rooted;
// else the executable's ".\log". A folder that is missing and cannot be
// made gives way to the executable's own folder.
std::string LogDirectory(const std::string& executable) {
    const std::string exeFolder = FolderWithoutSeparator(executable);
    std::string dir = GetEnvVariable("CGI_LOG_DIR");
    if (dir.empty()) dir = EngineSettings::DefaultLogDir;
    if (!HasDrive(dir)) dir = exeFolder + "\\" + dir;
    // Another thread may make the folder between the two checks.
    if (!DirectoryExists(dir) && !CreateDir(dir) && !DirectoryExists(dir)) dir = exeFolder;
    return dir;
}
}  // namespace

void ConfineToProgramFolder() {
    const std::string executable = ExecutableFileName();
    const std::string folder = FolderWithoutSeparator(executable);
    std::string logFolder = GetEnvVariable("CGI_LOG_DIR");
    if (!logFolder.empty() && !HasDrive(logFolder)) logFolder = folder + "\\" + logFolder;
    TConfinement rules =
        ProgramFolderConfinement(ToOsPath(folder), logFolder.empty() ? "" : ToOsPath(logFolder), ToOsPath(executable));
    // A Windows CGI server names its data file on the command line; the
    // content, output and external files it names sit in the same spool
    // folder, which the request reads and writes.
    for (int i = 1; i <= ParamCount(); ++i) {
        const std::string argument = ToOsPath(ParamStr(i));
        if (!FileExists(argument)) continue;
        const std::size_t slash = argument.rfind('/');
        rules.WriteTrees.push_back(slash == std::string::npos ? "." : argument.substr(0, slash + 1));
    }
    static_cast<void>(ConfineProcess(rules));
}

void HttpLog(const std::string& Message) {
    try {
        // 1-3.
        const std::string executable = ExecutableFileName();
        const std::string file = ComposeFileName(executable, LogDirectory(executable), false,
                                                 executable.substr(NameStart(executable)), false, "Log");
        // 4, 5. One append per line, so concurrent writers never tear one.
        const std::string line =
            DateTimeToStr(Now()) + ",  " + IntToStr(RequestContext.RequestId) + " : " + Message + "\r\n";
        static_cast<void>(AppendToFile(file, line));
        ProcessMessages();
        // 6.
        THttpEngine* engine = RequestContext.CurrentEngine;
        if (engine != nullptr && engine->DebugMode != NoDebug && RequestContext.UserLog) {
            RequestContext.UserLog->Seek(0, soFromEnd);
            RequestContext.UserLog->WriteString(line);
        }
    } catch (const std::exception&) {
        // The log never fails its caller: the line is lost.
    }
}
