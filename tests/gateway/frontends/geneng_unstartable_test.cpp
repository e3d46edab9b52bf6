// A Windows CGI request whose data file names no output file cannot start.
// The exception used to leave the form's creation and abort the process (or,
// caught by the framework, leave it in the message loop for ever); the
// process now logs it and ends with exit code 0.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>

#include "gateway/frontends/GatewayUnits.h"
#include "tests/gateway/frontends/frontend_form.h"
#include "tests/gateway/frontends/frontend_harness.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"

TEST(UnstartableRequest, DataFileWithoutUsableOutputFileIsLoggedAndEndsTheProcess) {
    const support::TTempFolder temp("valsetto-unstartable");
    const std::string& folder = temp.Path();
    struct Case {
        const char* what;
        std::string data;
    };
    const Case cases[] = {
        {"no output file entry", "[CGI]\r\nRequest Method=GET\r\nQuery String=P\r\n"},
        {"reading stops at an overlong line before it",
         "[CGI]\r\nQuery String=" + std::string(20000, 'n') + "\r\n[System]\r\nOutput File=" + folder + "/out\r\n"},
        {"output file in a missing folder", "[System]\r\nOutput File=" + folder + "/missing/out\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string dataFile = folder + "/request.ini";
        support::WriteFileBytes(dataFile, c.data);
        const TChildRun run{{{"SERVER_SOFTWARE", "WebSite/1.1"}, {"CGI_VERSION", "CGI/1.3a WIN"}}, {dataFile}, ""};
        const TChildResult r = RunInChild(run, [] {
            CreateMainForm<TProbeForm>();
            Note("created");
        });
        EXPECT_TRUE(r.Exited);
        EXPECT_EQ(r.ExitCode, 0);
        EXPECT_EQ(r.Notes, "");  // neither the handler nor the rest of the start-up ran
        EXPECT_EQ(r.Output, "");
        EXPECT_NE(support::ReadFolderBytes(r.Folder + "/log").find("Cannot create file"), std::string::npos);
        EXPECT_FALSE(std::filesystem::exists(folder + "/out"));
    }
}
