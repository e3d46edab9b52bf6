// A Windows CGI body shorter than its Content Length: the form sections or
// the content file are complete when the program starts, so their end is the
// end of the body. The read used to poll them as a pipe that had not
// delivered yet, until the watchdog ended the process after 30 s with no
// answer at all.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>

#include "gateway/frontends/GatewayUnits.h"
#include "gateway/engine/HttpEng.h"
#include "platform/Process.h"
#include "tests/gateway/frontends/frontend_form.h"
#include "tests/gateway/frontends/frontend_harness.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"

TEST(WinCgiShortContent, BodyShorterThanItsLengthEndsAtOnce) {
    if (ConsoleBuild) GTEST_SKIP() << "a console build reads the data file at start-up";
    const support::TTempFolder temp("valsetto-shortbody");
    const std::string& folder = temp.Path();
    support::WriteFileBytes(folder + "/content.txt", "name=from+file");
    struct Case {
        const char* what;
        std::string sections;
        const char* field;
    };
    const Case cases[] = {
        {"form literal section", "[Form Literal]\r\nname=from literal\r\n", "from literal"},
        {"content file", "Content File=" + folder + "/content.txt\r\n", "from file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string output = folder + "/out.txt";
        std::filesystem::remove(output);
        support::WriteFileBytes(folder + "/request.ini",
                                "[CGI]\r\nRequest Method=POST\r\nContent Length=5000\r\n"
                                "Content Type=application/x-www-form-urlencoded\r\n[System]\r\nOutput File=" +
                                    output + "\r\n" + c.sections);
        const TChildRun run{{{"SERVER_SOFTWARE", "WebSite/1.1"}, {"CGI_VERSION", "CGI/1.3a WIN"}},
                            {folder + "/request.ini"}, ""};
        const auto started = std::chrono::steady_clock::now();
        const TChildResult r = RunInChild(run, [] {
            TProbeForm::Configure = [](TProbeForm& form) {
                form.Engine->SetOnExecRequest([](TObject*) { HttpWrite("name=" + HttpFieldValue("name", "(none)")); });
            };
            CreateMainForm<TProbeForm>();
        });
        const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        EXPECT_LT(seconds, 5.0);
        EXPECT_EQ(r.ExitCode, 0);
        const std::string out = support::ReadFileBytes(output);
        EXPECT_NE(out.find("\r\n\r\nname=" + std::string(c.field) + "\r\n"), std::string::npos) << out;
    }
}
