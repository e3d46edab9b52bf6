// Starting a program never goes through a shell: what a command line holds
// reaches the program as its words, with no expansion, substitution,
// redirection or second command.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/Files.h"
#include "platform/Process.h"
#include "tests/support/Children.h"
#include "tests/support/TempFolder.h"

TEST(WinExecHidden, ShellCharactersReachTheProgramAsTheyAre) {
    support::TTempFolder dir;
    const std::string script = dir / "words.sh";
    // Writes its arguments one per line, then renames the list into place.
    ASSERT_TRUE(WriteWholeFile(script, "#!/bin/sh\nout=\"$1\"; shift\n"
                                       "for w in \"$@\"; do printf '%s\\n' \"$w\"; done > \"$out.tmp\"\n"
                                       "mv \"$out.tmp\" \"$out\"\n"));
    ASSERT_EQ(chmod(script.c_str(), 0755), 0);
    const std::string planted = dir / "planted";
    const std::string words[] = {"a;touch", planted, "$(touch", planted + ")", "`touch", planted + "`",
                                 "|tee", planted, ">" + planted, "$HOME", "*", "&&", "x"};
    std::string line = script + " " + (dir / "out");
    std::string want;
    for (const auto& word : words) {
        line += " " + word;
        want += word + "\n";
    }
    support::TCurrentFolder here(dir.Path());  // where a shell's redirection or glob would act
    ASSERT_TRUE(WinExecHidden(line));
    EXPECT_EQ(support::WaitForFile(dir / "out", 5000), want);
    EXPECT_FALSE(std::filesystem::exists(planted)) << "a shell ran part of the line";
}
