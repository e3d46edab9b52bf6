#include "app/qv_unit.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/Process.h"
#include "tests/support/Children.h"

namespace {
struct TextCase {
    const char* in;
    const char* want;
};

TEST(SplitHead, CutsAtFirstDelimiter) {
    struct Case {
        const char* delimiter;
        const char* text;
        const char* head;
        const char* rest;
    };
    const Case cases[] = {
        {"|", "Rumba|item", "Rumba", "item"},
        {"|", "item", "item", "item"},  // no delimiter: text stays as it was
        {"|", "|item", "", "item"},
        {"|", "a|b|c", "a", "b|c"},
        {"|", "a|", "a", ""},
        {"<>", "x<>y<>z", "x", "y<>z"},  // a delimiter of several characters
        {"", "abc", "abc", "abc"},       // an empty delimiter is never found
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.delimiter) + " / " + c.text);
        std::string text = c.text;
        std::string head = "previous";
        SplitHead(c.delimiter, text, head);
        EXPECT_EQ(head, c.head);
        EXPECT_EQ(text, c.rest);
    }
}

TEST(SplitHead, KeepsAtMost20000CharactersAfterTheDelimiter) {
    std::string text = "h|" + std::string(20001, 'x');
    std::string head;
    SplitHead("|", text, head);
    EXPECT_EQ(head, "h");
    EXPECT_EQ(text.size(), 20000u);
}

TEST(DateToMMDDYY, PadsMonthAndDayAndKeepsTwoYearDigits) {
    struct Case {
        int year, month, day;
        const char* want;
    };
    const Case cases[] = {
        {2015, 12, 7, "120715"}, {2016, 3, 1, "030116"}, {2016, 1, 9, "010916"},
        {2000, 10, 31, "103100"}, {1999, 2, 28, "022899"}, {9999, 12, 31, "123199"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.want);
        EXPECT_EQ(DateToMMDDYY(EncodeDate(c.year, c.month, c.day) + 0.75), c.want);
    }
}

TEST(MonthYearStamp, IsMonthAndYearOfToday) {
    const std::string today = TodayMMDDYY();
    ASSERT_EQ(today.size(), 6u);
    EXPECT_EQ(MonthYearStamp(), today.substr(0, 2) + today.substr(4, 2));
}

TEST(AddTrailingBackslash, AppendsOnlyWhenMissing) {
    const TextCase cases[] = {{"", ""}, {"C:\\web", "C:\\web\\"}, {"C:\\web\\", "C:\\web\\"}, {"a/", "a/\\"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(AddTrailingBackslash(c.in), c.want);
    }
}

TEST(PathOfFile, KeepsFolderWithItsSeparator) {
    const TextCase cases[] = {
        {"C:\\web\\audiojs\\player.exe", "C:\\web\\audiojs\\"},
        {"player.exe", "player.exe"},         // a bare name comes back whole
        {"/var/www/x.cgi", "/var/www/"},      // only "/": "/" is the separator
        {"\\var\\www\\x.cgi", "\\var\\www\\"},
        {"a/b\\c", "a/b\\"},                  // "/" first: "\" is the separator
        {"a\\b/c", "a\\b/"},                  // "\" first: "/" is the separator
        {"C:\\", "C:\\"},
        {"\\x", "\\x"},                       // the cut stops at two characters
        {"\\\\?\\C:\\web\\p.exe", "\\\\?\\C:\\web\\"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(PathOfFile(c.in), c.want);
    }
}

TEST(FileNameOfPath, ReturnsLastComponent) {
    const TextCase cases[] = {
        {"C:\\web\\player.exe", "player.exe"},
        {"C:\\music\\Rumba\\", ""},
        {"player.exe", "player.exe"},
        {"a/b/c.mp3", "c.mp3"},
        {"a\\b/c", "c"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(FileNameOfPath(c.in), c.want);
    }
}

TEST(FileNameOfPath, EachStepKeeps255Characters) {
    const std::string longName(300, 'n');
    EXPECT_EQ(FileNameOfPath("C:\\" + longName), longName.substr(0, 255));
    // The first step keeps 255 characters, so only four of the name survive.
    EXPECT_EQ(FileNameOfPath("C:\\" + std::string(250, 'f') + "\\Tango.mp3"), "Tang");
}

TEST(StripExtension, CutsBeforeLastDot) {
    const TextCase cases[] = {
        {"Blue.Moon.mp3", "Blue.Moon"}, {"Rumba", "Rumba"},           {".hidden", ""},
        {"song.", "song"},              {"dir.v2\\file", "dir"},       {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(StripExtension(c.in), c.want);
    }
}

TEST(ReplaceText, ReplacesIgnoringCaseOfAsciiLetters) {
    struct Case {
        const char* text;
        const char* search;
        const char* replacement;
        bool all;
        const char* want;
    };
    const Case cases[] = {
        {"a/b/c", "/", "\\", true, "a\\b\\c"},
        {"a/b/c", "/", "\\", false, "a\\b/c"},
        {"C:\\site\\audiojs\\x", "AUDIOJS\\", "", false, "C:\\site\\x"},
        {"abcABC", "b", "bb", true, "abbcAbbC"},  // the replacement holds the search text
        {"xyz", "q", "r", true, "xyz"},
        {"xyz", "", "r", true, "xyz"},            // an empty search is never found
        {"abab", "ab", "", true, ""},
        {"\xC4x\xE4", "\xE4", "_", true, "\xC4x_"},  // only A-Z fold
        {"pre\xA4\xA4\xA4\xA4post", "zz", "R", false, "preRpost"},  // a marker already there
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.search);
        EXPECT_EQ(ReplaceText(c.text, c.search, c.replacement, c.all), c.want);
    }
}

// A search text or replacement made of marker bytes once made every-place
// replacement grow the text without end.
TEST(ReplaceText, MarkerBytesInSearchOrReplacementEnd) {
    EXPECT_EQ(ReplaceText("a\xA4" "b", "\xA4", "-", true), "a-b");
    EXPECT_EQ(ReplaceText("aXb", "x", std::string(4, '\xA4'), true), "a" + std::string(4, '\xA4') + "b");
}

TEST(ReplaceText, KeepsAtMost50000CharactersAfterAReplacement) {
    const std::string text = "x" + std::string(50001, 'y');
    EXPECT_EQ(ReplaceText(text, "x", "z", false), "z" + std::string(50000, 'y'));
}

TEST(ProgramFolder, IsTheExecutablesFolderInWindowsForm) {
    support::SetCommandLine({"/srv/site/audiojs/player.exe"});
    EXPECT_EQ(ProgramFolder(), "\\srv\\site\\audiojs\\");
}
}  // namespace
