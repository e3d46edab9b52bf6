// The Windows CGI front end: the data file as such a server writes it, the
// predicates that choose the front end, and one whole request through it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "gateway/engine/ProcessRole.h"
#include "gateway/frontends/CGIWEng.h"
#include "gateway/frontends/CGIWEngData.h"
#include "gateway/servermode/ServerMode.h"
#include "platform/Exception.h"
#include "platform/Files.h"
#include "platform/Process.h"
#include "platform/Streams.h"
#include "platform/StringList.h"
#include "tests/support/Children.h"
#include "tests/support/TempFolder.h"

namespace {
struct TempFolder {
    support::TTempFolder Folder{"valsetto-wincgi"};
    const std::string& Path = Folder.Path();
    std::string File(const std::string& name) const { return Path + "/" + name; }
    // The same file as the Windows side names it.
    std::string WinFile(const std::string& name) const { return ToWindowsPath(File(name)); }
};

void Write(const std::string& path, const std::string& bytes) { ASSERT_TRUE(WriteWholeFile(path, bytes)); }

std::string Read(const std::string& path) {
    std::string bytes;
    EXPECT_TRUE(ReadWholeFile(path, bytes)) << path;
    return bytes;
}

// What reading a data file hands back, the streams owned here.
struct TDataFile {
    explicit TDataFile(const std::string& path) {
        TStream* input = nullptr;
        TStream* output = nullptr;
        ReadWinCgiDataFile(path, OutputName, input, Variables, output);
        In.reset(input);
        Out.reset(output);
    }
    TStringList Variables{true};
    std::string OutputName;
    std::unique_ptr<TStream> In, Out;
};

std::string StreamText(TStream& stream) {
    std::string text;
    char block[256];
    for (int n; (n = stream.Read(block, sizeof block)) > 0;) text.append(block, static_cast<std::size_t>(n));
    return text;
}

TMemoryStream StreamOf(const std::string& bytes) {
    TMemoryStream stream;
    stream.WriteString(bytes);
    stream.SetPosition(0);
    return stream;
}

bool NoExternalFiles(const std::string&, std::int32_t, std::string&) { return false; }

// Sets the process's command line and request environment for one row.
struct ProcessSetting {
    std::vector<std::string> Args;
    const char* ServerSoftware;
    const char* CgiVersion;
    const char* RequestMethod;
};

void Apply(const ProcessSetting& s, const std::string& program) {
    std::vector<std::string> args = {program};
    args.insert(args.end(), s.Args.begin(), s.Args.end());
    support::SetCommandLine(args);
    const std::pair<const char*, const char*> vars[] = {
        {"SERVER_SOFTWARE", s.ServerSoftware}, {"CGI_VERSION", s.CgiVersion}, {"REQUEST_METHOD", s.RequestMethod}};
    for (const auto& [name, value] : vars) {
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
}
}  // namespace

TEST(ReadDataLine, LineEndsAndBounds) {
    const std::string longest(MaxDataLine - 1, 'x');
    struct Case {
        std::string in;
        std::vector<std::string> lines;  // what successive calls deliver while true
    };
    const Case cases[] = {
        {"a=1\r\nb=2\r\n", {"a=1", "b=2"}},
        {"a=1\r\nlast=no end", {"a=1"}},               // a last line without CR is lost
        {"\t  [CGI]\r\n\x01key=v\r", {"[CGI]", "key=v"}},  // leading blanks and controls dropped
        {"\r\r", {"", ""}},
        {longest + "\r" + "next\r", {longest, "next"}},   // limit - 1 bytes: used
        {longest + "y\r" + "next\r", {}},                  // limit bytes: reading ends there
        {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in.substr(0, 40));
        TMemoryStream stream = StreamOf(c.in);
        std::vector<std::string> got;
        std::string line;
        while (got.size() < 10 && ReadDataLine(stream, line)) got.push_back(line);
        EXPECT_EQ(got, c.lines);
    }
}

TEST(ParseDataLine, SectionsAndEntries) {
    struct Case {
        const char* line;
        const char* sectionBefore;
        const char* section;
        const char* key;
        const char* value;
    };
    const Case cases[] = {
        {"[CGI]", "", "CGI", "", ""},
        {"[ Extra Headers ]", "CGI", "EXTRA_HEADERS", "", ""},
        {"[form literal]x", "CGI", "FORM_LITERAL", "", ""},
        {"[System", "CGI", "CGI", "", ""},  // no "]": section unchanged
        {"[a=b", "CGI", "CGI", "", ""},     // a "[" line is never an entry
        {"Request Method = POST ", "CGI", "CGI", "Request Method", "POST"},
        {"Query=a=b&c", "CGI", "CGI", "Query", "a=b&c"},
        {"Empty=", "CGI", "CGI", "Empty", ""},
        {"=orphan", "CGI", "CGI", "", "orphan"},
        {"no equals sign", "CGI", "CGI", "", ""},
        {"", "CGI", "CGI", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::string section = c.sectionBefore;
        std::string key = "stale";
        std::string value = "stale";
        ParseDataLine(c.line, section, key, value);
        EXPECT_EQ(section, c.section);
        EXPECT_EQ(key, c.key);
        EXPECT_EQ(value, c.value);
    }
}

TEST(ParseWinCgiData, SectionsBecomeVariablesFormAndAccept) {
    TMemoryStream data = StreamOf(
        "Stray=before any section\r\n"
        "[CGI]\r\nRequest Method=POST\r\nContent Length=8\r\n"
        "[System]\r\nOutput File=C:\\temp\\out.txt\r\n"
        "[Extra Headers]\r\nX Custom=1\r\n"
        "[Accept]\r\ntext/html=Yes\r\nimage/gif=yes\r\nimage/png=No\r\n"
        "[Form Literal]\r\nname=a b\r\nsym=~/\r\n"
        "[Unknown]\r\nignored=1\r\n"
        "[CGI]\r\nTruncated=lost");
    TStringList variables(true);
    TWinCgiForm form;
    ParseWinCgiData(data, variables, form, NoExternalFiles);
    EXPECT_EQ(variables.Values("Request_Method"), "POST");
    EXPECT_EQ(variables.Values("CONTENT_LENGTH"), "8");
    EXPECT_EQ(variables.Values("Output_File"), "C:\\temp\\out.txt");
    EXPECT_EQ(variables.Values("X_Custom"), "1");
    EXPECT_EQ(variables.Values("HTTP_ACCEPT"), "text/html,image/gif");
    EXPECT_EQ(variables.IndexOfName("Stray"), -1);
    EXPECT_EQ(variables.IndexOfName("ignored"), -1);
    EXPECT_EQ(variables.IndexOfName("Truncated"), -1);
    EXPECT_EQ(variables.Count(), 5);
    EXPECT_TRUE(form.HasContent);
    EXPECT_EQ(form.Content, "name=a+b&sym=%7E/&");
}

TEST(ParseWinCgiData, FormExternalReadsWhatTheFileHolds) {
    TempFolder dir;
    Write(dir.File("field.bin"), std::string(3000, 'z'));
    const std::string external = dir.WinFile("field.bin");
    TMemoryStream data = StreamOf(
        "[Form External]\r\n"
        "big=" + external + " 5000\r\n"        // claims more than the file holds
        "two=" + external + " 2\r\n"
        "noLength=" + external + "\r\n"        // skipped: no blank, no length
        "badLength=" + external + " x1\r\n"    // skipped: not a number
        "missing=" + dir.WinFile("absent") + " 4\r\n"  // skipped: cannot be opened
        "[Form Literal]\r\nafter=1\r\n");
    TStringList variables(true);
    TWinCgiForm form;
    ParseWinCgiData(data, variables, form, ReadExternalFieldFile);
    EXPECT_EQ(form.Content, "big=" + std::string(3000, 'z') + "&two=zz&after=1&");
    EXPECT_EQ(variables.Count(), 0);
}

TEST(ReadWinCgiDataFile, RequestAsTheServerWritesIt) {
    TempFolder dir;
    Write(dir.File("out.txt"), std::string(500, 'o'));  // left from an earlier request
    Write(dir.File("body.bin"), "raw=body");
    Write(dir.File("request.ini"),
          "[CGI]\r\nRequest Method=POST\r\nContent Length=8\r\n"
          "[System]\r\nOutput File=" + dir.WinFile("out.txt") + "\r\nContent File=" + dir.File("body.bin") +
              "\r\n[Form Literal]\r\nignored=because the content file wins\r\n");
    TDataFile got(dir.WinFile("request.ini"));
    EXPECT_EQ(got.OutputName, dir.WinFile("out.txt"));
    ASSERT_NE(got.In, nullptr);
    EXPECT_EQ(StreamText(*got.In), "raw=body");
    ASSERT_NE(got.Out, nullptr);
    got.Out->WriteString("short");
    got.Out.reset();
    EXPECT_EQ(Read(dir.File("out.txt")), "short");  // cut to what was written
}

TEST(ReadWinCgiDataFile, FormContentAndMissingFiles) {
    TempFolder dir;
    Write(dir.File("form.ini"), "[System]\r\nOutput File=" + dir.WinFile("out.txt") +
                                    "\r\nContent File=" + dir.File("no-such-body") +
                                    "\r\n[Form Literal]\r\nname=a b\r\n");
    const TDataFile got(dir.WinFile("form.ini"));
    ASSERT_NE(got.In, nullptr);  // a content file that does not exist leaves the form in place
    EXPECT_EQ(got.In->Position(), 0);
    EXPECT_EQ(StreamText(*got.In), "name=a+b&");
    EXPECT_TRUE(FileExists(dir.File("out.txt")));

    Write(dir.File("nooutput.ini"), "[CGI]\r\nRequest Method=GET\r\n");
    EXPECT_THROW((void)TDataFile(dir.WinFile("nooutput.ini")), EFileError);
    EXPECT_THROW((void)TDataFile(dir.WinFile("absent.ini")), EFileError);
}

TEST(FrontEndPredicates, ServerLaunchWindowsCgiAndRoleTable) {
    std::vector<std::pair<std::string, std::string>> saved;
    for (const char* name : {"SERVER_SOFTWARE", "CGI_VERSION", "REQUEST_METHOD"})
        if (const char* value = getenv(name)) saved.emplace_back(name, value);
    TempFolder dir;
    Write(dir.File("data.ini"), "[CGI]\r\n");
    const std::string data = dir.File("data.ini");
    const std::string program = dir.File("prog.cgi");
    struct Row {
        ProcessSetting setting;
        bool launch;
        bool winCgi;
        TProcessRole role;
    };
    constexpr TProcessRole Server = ConsoleBuild ? TProcessRole::ConsoleServer : TProcessRole::ResidentServer;
    constexpr TProcessRole Std = TProcessRole::StandardCgi;
    constexpr TProcessRole Win = TProcessRole::WindowsCgi;
    constexpr TProcessRole None = TProcessRole::None;
    const Row rows[] = {
        {{{}, nullptr, nullptr, nullptr}, true, true, Server},                      // started by hand
        {{{}, "Apache/2.4", nullptr, nullptr}, false, false, Std},
        {{{}, "ZB-Server", nullptr, nullptr}, true, true, Server},                 // "ZB" counts as absent
        {{{"$$START_SERVER", "X"}, "Apache/2.4", nullptr, nullptr}, true, true, Server},
        {{{" $$START_SERVER ", "X"}, nullptr, nullptr, nullptr}, true, true, Server},
        {{{"$$start_server", "X"}, nullptr, nullptr, nullptr}, false, false, None},
        {{{"$$START_SERVER"}, nullptr, nullptr, nullptr}, false, false, None},   // one argument only
        {{{data}, "Win-Httpd", nullptr, nullptr}, false, true, Win},            // data file, no CGI_VERSION
        {{{data}, "Win-Httpd", "CGI/1.3a WIN", nullptr}, false, true, Win},
        {{{data}, "Win-Httpd", "CGI/1.2", nullptr}, false, false, Std},
        {{{dir.File("absent")}, nullptr, nullptr, nullptr}, false, false, None},
        // A request in the environment: arguments may be the client's words.
        {{{"$$START_SERVER", "X"}, "Apache/2.4", nullptr, "GET"}, false, false, Std},
        {{{data}, "Apache/2.4", nullptr, "GET"}, false, false, Std},
        {{{data}, "Apache/2.4", "", "GET"}, false, false, Std},
        {{{data}, "Win-Httpd", "CGI/1.3a WIN", "POST"}, false, true, Win},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << (row.setting.Args.empty() ? "(no args)" : row.setting.Args[0]) << " / "
                                        << (row.setting.ServerSoftware ? row.setting.ServerSoftware : "-") << " / "
                                        << (row.setting.CgiVersion ? row.setting.CgiVersion : "-") << " / "
                                        << (row.setting.RequestMethod ? row.setting.RequestMethod : "-"));
        Apply(row.setting, program);
        DecideProcessRole();  // as the start-up does
        EXPECT_EQ(IsServerLaunch(), row.launch);
        EXPECT_EQ(IsWinCgi(), row.winCgi);
        EXPECT_EQ(ProcessRole(), row.role);
    }
    Apply({}, program);
    for (const auto& [name, value] : saved) setenv(name.c_str(), value.c_str(), 1);
    InitProcess(0, nullptr);
}

TEST(TCGIWinEngine, ServesTheDataFileIntoTheOutputFile) {
    TempFolder dir;
    Write(dir.File("out.txt"), std::string(4000, '#'));
    Write(dir.File("body.bin"), "name=from+body");
    Write(dir.File("request.ini"),
          "[CGI]\r\nRequest Method=POST\r\nContent Length=14\r\nContent Type=application/x-www-form-urlencoded\r\n"
          "Server Software=Apache/1.3.9 (Win32)\r\n"
          "[System]\r\nOutput File=" + dir.WinFile("out.txt") + "\r\nContent File=" + dir.File("body.bin") + "\r\n");
    const int code = support::RunForked([&] {
        Apply({{dir.File("request.ini")}, nullptr, "CGI/1.3a WIN", nullptr}, dir.File("prog.cgi"));
        setenv("CGI_LOG_DIR", dir.File("log").c_str(), 1);
        const TExecRequestEvent handler = [](TObject*) {
            HttpWrite("method=" + HttpServerVariable("REQUEST_METHOD"));
            HttpWrite("name=" + HttpFieldValue("name", "(none)"));
        };
        if (ConsoleBuild) {  // start-up reads the data file; the answer leaves at the normal end
            CGIWEngStartup();
            CurrentHttpEngine()->SetOnExecRequest(handler);
            CurrentHttpEngine()->RunConsoleRequest();
            NormalExit(0);
        }
        auto* engine = new TCGIWinEngine(nullptr);
        engine->SetOnExecRequest(handler);
        engine->RunProcessRequest();  // ends the process after the request
        return 3;
    }, 10000);
    ASSERT_GE(code, 0) << "the child did not end by itself";
    EXPECT_EQ(code, 0);
    const std::string out = Read(dir.File("out.txt"));
    EXPECT_EQ(out.rfind("Status: 200 OK\r\n", 0), 0u) << out.substr(0, 80);  // under Apache
    EXPECT_NE(out.find("\r\n\r\nmethod=POST\r\nname=from body\r\n"), std::string::npos) << out;
    EXPECT_EQ(out.find('#'), std::string::npos);
}
