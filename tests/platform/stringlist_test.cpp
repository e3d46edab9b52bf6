#include "platform/StringList.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/Exception.h"
#include "platform/Files.h"
#include "platform/SysUtils.h"
#include "tests/support/Failures.h"
#include "tests/support/TempFolder.h"

namespace {
std::vector<std::string> Lines(const TStringList& list) { return list.Lines(); }
}  // namespace

TEST(TStringList, SortedKeepsCompareTextOrderAndIgnoresDuplicates) {
    TStringList list(/*sorted=*/true);
    for (const char* line : {"pear", "Apple", "banana", "apple", "PEAR", "cherry"}) list.Add(line);
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"Apple", "banana", "cherry", "pear"}));
    EXPECT_EQ(list.Add("BANANA"), 1) << "the index of the equal line present";
    EXPECT_EQ(list.IndexOf("CHERRY"), 2);
    EXPECT_EQ(list.IndexOf("date"), -1);
    EXPECT_EQ(list.IndexOf(""), -1);

    TStringList accepting(true);
    accepting.Duplicates = TDuplicates::dupAccept;
    for (const char* line : {"b", "a", "B", "a"}) accepting.Add(line);
    EXPECT_EQ(accepting.Count(), 4);
    EXPECT_EQ(accepting.IndexOf("B"), 2) << "the first of equal lines";
    EXPECT_EQ(SameText(accepting[2], "b") && SameText(accepting[3], "b"), true);
}

TEST(TStringList, NamesAndValues) {
    TStringList list;
    list.Add("CONTENT_LENGTH=12");
    list.Add("noequals");
    list.Add("Query_String=a=b&c");
    list.Add("empty=");
    EXPECT_EQ(list.IndexOfName("content_length"), 0);
    EXPECT_EQ(list.IndexOfName("noequals"), -1);
    EXPECT_EQ(list.Values("QUERY_STRING"), "a=b&c") << "value after the first \"=\"";
    EXPECT_EQ(list.Values("empty"), "");
    EXPECT_EQ(list.Values("absent"), "");
    EXPECT_EQ(list.Names(2), "Query_String");
    EXPECT_EQ(list.Names(1), "");
    EXPECT_EQ(list.ValueFromIndex(0), "12");

    list.SetValue("content_length", "99");
    EXPECT_EQ(list[0], "content_length=99") << "replaced in place";
    list.SetValue("NEW", "v");
    EXPECT_EQ(list[list.Count() - 1], "NEW=v");
    list.SetValue("query_string", "");
    EXPECT_EQ(list.IndexOfName("QUERY_STRING"), -1) << "an empty value deletes the line";
    list.SetValue("absent", "");
    EXPECT_EQ(list.Count(), 4);
}

TEST(TStringList, SetValueKeepsSortedListSorted) {
    TStringList list(true);
    list.Add("b=2");
    list.Add("d=4");
    list.SetValue("c", "3");
    list.SetValue("B", "9");
    EXPECT_EQ(Lines(list), (std::vector<std::string>{"B=9", "c=3", "d=4"}));
}

TEST(TStringList, SetTextSplitsAtEveryLineEnd) {
    using Names = std::vector<std::string>;
    struct Case {
        const char* text;
        Names want;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb\r\n", {"a", "b"}},
        {"a\nb\rc\r\nd", {"a", "b", "c", "d"}},
        {"\r\n", {""}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\r\rb", {"a", "", "b"}},
        {"a\n\r", {"a", ""}},  // LF then CR is two line ends
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::string(c.text)));
        TStringList list;
        list.Add("old");
        list.SetText(c.text);
        EXPECT_EQ(Lines(list), c.want);
    }
    TStringList list;
    list.SetText("x\ny");
    EXPECT_EQ(list.Text(), "x\r\ny\r\n");
}

TEST(TStringList, FilesUseCrLfAndRaiseWithTheName) {
    support::TTempFolder dir;
    TStringList list;
    list.Add("one");
    list.Add("");
    list.Add("three");
    list.SaveToFile(ToWindowsPath(dir / "list.txt"));
    std::string content;
    ASSERT_TRUE(ReadWholeFile(dir / "list.txt", content));
    EXPECT_EQ(content, "one\r\n\r\nthree\r\n");

    ASSERT_TRUE(WriteWholeFile(dir / "unix.txt", "a\nb\n"));
    TStringList loaded;
    loaded.LoadFromFile(dir / "unix.txt");
    EXPECT_EQ(Lines(loaded), (std::vector<std::string>{"a", "b"}));

    EXPECT_EQ(support::FailureOf<EFileError>([&] { loaded.LoadFromFile(dir / "missing.txt"); }),
              "Cannot open file \"" + dir / "missing.txt" + "\"");
    EXPECT_EQ(loaded.Count(), 2) << "a failed load keeps the content";
    EXPECT_THROW(list.SaveToFile(dir / "no/such/folder.txt"), EFileError);
}

TEST(TStringList, IndexErrorsRaise) {
    TStringList list;
    list.Add("a");
    EXPECT_THROW(list.Delete(1), Exception);
    EXPECT_THROW(list.Insert(2, "x"), Exception);
    EXPECT_NO_THROW(list.Insert(1, "b"));
    EXPECT_THROW((void)list[2], std::out_of_range);
}

TEST(SysUtils, IntegerConversion) {
    struct Case {
        const char* text;
        std::int32_t want;  // -7 stands for "not a number" (the default)
    };
    const Case cases[] = {
        {"12", 12},          {" 42 ", 42},     {"+5", 5},     {"-5", -5},         {"", -7},
        {"+", -7},           {"1x", -7},       {"x1", -7},    {"2147483647", 2147483647},
        {"2147483648", -7},  {"-2147483648", INT32_MIN},      {"1 2", -7},
        // Regression: a second sign after "+" was accepted, "+-5" gave -5.
        {"+-5", -7},         {"-+5", -7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(StrToIntDef(c.text, -7), c.want);
    }
}

TEST(SysUtils, CaseAndTrim) {
    EXPECT_EQ(UpperCase("aZ_\xe9"), "AZ_\xe9") << "ASCII only: 8-bit bytes unchanged";
    EXPECT_EQ(Trim("\t\r\n x y \x01"), "x y");
    EXPECT_LT(CompareText("abc", "ABD"), 0);
    EXPECT_EQ(CompareText("ABC", "abc"), 0);
    EXPECT_LT(CompareText("ab", "ABC"), 0);
    EXPECT_EQ(Pos("b", "abcb"), 2u);
    EXPECT_EQ(Pos("", "abc"), 0u);
    EXPECT_TRUE(StartsText("http", "HTTP/1.0"));
    EXPECT_FALSE(StartsText("http/1.0x", "HTTP/1.0"));
    EXPECT_TRUE(ContainsText("Microsoft-IIS/5.0", "iis"));
}

// Merge stands for one Delete per index and one Add per line: the same list,
// sorted or not, ignoring or accepting duplicates (an accepted line goes
// before the equal lines present).
TEST(TStringList, MergeGivesTheListOfOneDeleteAndOneAddAtATime) {
    const std::vector<std::string> start = {"b=1", "D=2", "a=3", "c=4", "B=1"};
    struct Case {
        std::vector<int> deleted;
        std::vector<std::string> added;
    };
    const Case cases[] = {
        {{}, {}},
        {{0, 2}, {"A=9", "e=0", "b=1", "E=0", "0"}},
        {{3}, {"c=4", "C=4", "b=1", "b=1"}},
        {{0, 1, 2, 3}, {"z", "y", "x"}},
    };
    for (const bool sorted : {true, false}) {
        for (const TDuplicates duplicates : {TDuplicates::dupIgnore, TDuplicates::dupAccept}) {
            for (const auto& c : cases) {
                SCOPED_TRACE(testing::Message() << "sorted " << sorted << ", accept "
                                                << (duplicates == TDuplicates::dupAccept) << ", case " << (&c - cases));
                TStringList merged(sorted);
                TStringList stepwise(sorted);
                merged.Duplicates = stepwise.Duplicates = duplicates;
                for (const auto& line : start) merged.Add(line), stepwise.Add(line);
                std::vector<int> descending = c.deleted;
                std::sort(descending.rbegin(), descending.rend());
                for (const int index : descending) stepwise.Delete(index);
                for (const auto& line : c.added) stepwise.Add(line);
                merged.Merge(c.deleted, c.added);
                EXPECT_EQ(Lines(merged), Lines(stepwise));
            }
        }
    }
}
