#include "app/Options.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/Exception.h"
#include "platform/Process.h"
#include "tests/support/Children.h"
#include "tests/support/Files.h"
#include "tests/support/TempFolder.h"

namespace {
// The file format, field by field: offset, slot size, field.
struct TSlot {
    std::size_t offset;
    std::size_t size;
    const char* name;
};
const TSlot StringSlots[] = {
    {0, 256, "host"},         {256, 121, "userid"},   {377, 256, "fromaddress"}, {634, 26, "password"},
    {660, 256, "errormail"},  {916, 121, "ignoreip"}, {1037, 121, "notifyip"},
};

std::string Slot(const std::string& text) { return std::string(1, static_cast<char>(text.size())) + text; }

using support::ReadFileBytes;
using support::WriteFileBytes;

// A fresh folder holding a pretend executable named a.b.exe; Options starts
// zero-filled as at process start.
class OptionsFiles : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = support::MakeTempFolder("valsetto-options");
        ASSERT_FALSE(folder_.empty());
        program_ = folder_ + "/a.b.exe";
        support::SetCommandLine({program_});
        Options = TOptionsRecord{};
    }
    void TearDown() override {
        support::RemoveFolder(folder_);
        Options = TOptionsRecord{};
    }
    std::string File(const std::string& name) const { return folder_ + "/" + name; }

    std::string folder_;
    std::string program_;
};

TEST(OptionsRecord, EncodesEveryFieldAtItsOffset) {
    TOptionsRecord record;
    record.host.Assign("mail.example.org");
    record.userid.Assign("operator");
    record.fromaddress.Assign("from@example.org");
    record.diagnostics = 1;
    record.password.Assign("s3cret");
    record.errormail.Assign("errors@example.org");
    record.ignoreip.Assign("10.0.0.1");
    record.notifyip.Assign("10.0.0.2");
    record.logging = 1;
    record.reserved = 0x5A;

    std::string want(OptionsRecordSize, '\0');
    const char* const values[] = {"mail.example.org", "operator", "from@example.org", "s3cret",
                                  "errors@example.org", "10.0.0.1", "10.0.0.2"};
    for (std::size_t i = 0; i < std::size(StringSlots); ++i)
        want.replace(StringSlots[i].offset, 1 + std::strlen(values[i]), Slot(values[i]));
    want[633] = 1;
    want[1158] = 1;
    want[1159] = 0x5A;
    EXPECT_EQ(EncodeOptions(record), want);
}

TEST(OptionsRecord, DecodeRoundTripsEveryByteOfAValidRecord) {
    std::string bytes(OptionsRecordSize, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    for (const auto& slot : StringSlots) bytes[slot.offset] = static_cast<char>(slot.size - 1);  // full strings
    TOptionsRecord record;
    DecodeOptions(bytes, record);
    EXPECT_EQ(EncodeOptions(record), bytes);
    EXPECT_EQ(record.password.Value(), bytes.substr(635, 25));
}

// A length byte above its slot's maximum let a string run on into the next
// field (a password of 200 characters made of the following fields).
TEST(OptionsRecord, OversizedLengthBytesAreCutToTheSlot) {
    for (const auto& slot : StringSlots) {
        SCOPED_TRACE(slot.name);
        for (const int claimed : {int(slot.size) - 2, int(slot.size) - 1, int(slot.size), 255}) {
            if (claimed > 255) continue;
            std::string bytes(OptionsRecordSize, 'z');
            bytes[slot.offset] = static_cast<char>(claimed);
            TOptionsRecord record;
            DecodeOptions(bytes, record);
            const std::size_t want = std::min<std::size_t>(claimed, slot.size - 1);
            EXPECT_EQ(static_cast<unsigned char>(EncodeOptions(record)[slot.offset]), want) << claimed;
        }
    }
    std::string bytes(OptionsRecordSize, '\0');
    bytes[634] = static_cast<char>(200);
    bytes.replace(635, 25, std::string(25, 'p'));
    bytes[660] = 'E';
    TOptionsRecord record;
    DecodeOptions(bytes, record);
    EXPECT_EQ(record.password.Value(), std::string(25, 'p'));
}

TEST(OptionsRecord, ShortDataKeepsTheRestAndLongDataIsCut) {
    TOptionsRecord record;
    record.diagnostics = 1;
    record.notifyip.Assign("kept");
    std::string bytes = Slot("host-from-file") + std::string(500 - 15, '\0');
    DecodeOptions(bytes, record);
    EXPECT_EQ(record.host.Value(), "host-from-file");
    EXPECT_EQ(record.diagnostics, 1);
    EXPECT_EQ(record.notifyip.Value(), "kept");

    std::string longer(OptionsRecordSize + 40, '\x01');
    longer[0] = 0;
    DecodeOptions(longer, record);
    EXPECT_EQ(EncodeOptions(record), longer.substr(0, OptionsRecordSize));
}

TEST_F(OptionsFiles, NamesFollowTheExecutableUpToItsFirstDot) {
    const std::string folder = "\\" + folder_.substr(1) + "\\";
    std::string windows = folder;
    for (auto& c : windows) c = c == '/' ? '\\' : c;
    EXPECT_EQ(OptionsBaseName(), windows + "a");
    EXPECT_EQ(OptionsFileName(), windows + "a.opt");
    EXPECT_EQ(HitLogFileName(EncodeDate(2016, 1, 1) + 0.5), windows + "a0116.log");
    EXPECT_EQ(HitLogFileName(EncodeDate(2015, 12, 31)), windows + "a1215.log");
    EXPECT_EQ(TraceFileName(), windows + "Tunewright.tst");
}

TEST_F(OptionsFiles, NoFileMeansDiagnosticsOnAndEmptyStringsAndNothingWritten) {
    Options.password.Assign("left over");
    Options.notifyip.Assign("kept");
    Options.logging = 1;
    LoadOptions();
    EXPECT_EQ(Options.diagnostics, 1);
    EXPECT_EQ(Options.password.Value(), "");
    EXPECT_EQ(Options.notifyip.Value(), "kept");  // not among the defaults
    EXPECT_EQ(Options.logging, 1);
    EXPECT_FALSE(std::filesystem::exists(File("a.opt")));
}

TEST_F(OptionsFiles, A500ByteFileFillsOnlyWhatItHolds) {
    std::string bytes = Slot("h") + std::string(254, 'x') + Slot("u") + std::string(119, 'x') + Slot("partial-from");
    bytes.resize(500, 'f');
    WriteFileBytes(File("a.opt"), bytes);
    LoadOptions();
    EXPECT_EQ(Options.host.Value(), "h");
    EXPECT_EQ(Options.userid.Value(), "u");
    EXPECT_EQ(Options.fromaddress.Value().substr(0, 12), "partial-from");
    EXPECT_EQ(Options.diagnostics, 0);  // beyond the file: zero since start
    EXPECT_EQ(Options.password.Value(), "");
}

TEST_F(OptionsFiles, SaveThenLoadRoundTripsThePassword) {
    Options.password.Assign(std::string("p\xA4 w\"<>&\x01") + std::string(15, 'q'));
    Options.diagnostics = 0;
    Options.reserved = 7;
    SaveOptions();
    const std::string saved = ReadFileBytes(File("a.opt"));
    ASSERT_EQ(saved.size(), OptionsRecordSize);
    const TOptionsRecord before = Options;
    Options = TOptionsRecord{};
    LoadOptions();
    EXPECT_EQ(EncodeOptions(Options), EncodeOptions(before));
}

TEST_F(OptionsFiles, SaveReplacesTheFileWithoutLeavingTemporaries) {
    WriteFileBytes(File("a.opt"), std::string(OptionsRecordSize, 'o'));
    struct stat before {};
    ASSERT_EQ(stat(File("a.opt").c_str(), &before), 0);
    Options.logging = 1;
    SaveOptions();
    struct stat after {};
    ASSERT_EQ(stat(File("a.opt").c_str(), &after), 0);
    // A new file was renamed into place: a reader holding the old one never
    // sees it shrink to nothing.
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(ReadFileBytes(File("a.opt")), EncodeOptions(Options));
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) entries += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(entries, 1);
}

// Works for root too: a folder in the file's place cannot be replaced or
// appended to.
TEST_F(OptionsFiles, FailedWritesRaiseAndLeaveNothingBehind) {
    std::filesystem::create_directories(File("a.opt") + "/inside");
    std::filesystem::create_directories(File("Tunewright.tst") + "/inside");
    Options.diagnostics = 1;
    EXPECT_THROW(SaveOptions(), EFileError);
    EXPECT_THROW(WriteTrace("line"), EFileError);
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) entries += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(entries, 0);  // no temporary file left
}

TEST_F(OptionsFiles, MissingFolderRaises) {
    support::SetCommandLine({folder_ + "/gone/a.exe"});
    Options.diagnostics = 1;
    EXPECT_NO_THROW(LoadOptions());  // no file: defaults
    EXPECT_THROW(SaveOptions(), EFileError);
    EXPECT_THROW(WriteTrace("line"), EFileError);
    EXPECT_THROW(LogHit(), EFileError);
}

TEST_F(OptionsFiles, UnreadableOptionsFileRaises) {
    if (geteuid() == 0) GTEST_SKIP() << "root ignores permissions";
    WriteFileBytes(File("a.opt"), std::string(OptionsRecordSize, '\0'));
    ASSERT_EQ(chmod(File("a.opt").c_str(), 0200), 0);
    EXPECT_THROW(LoadOptions(), EFileError);
}

TEST_F(OptionsFiles, TraceAppendsLinesOnlyWhileDiagnosticsAreOn) {
    Options.diagnostics = 0;
    WriteTrace("hidden");
    EXPECT_FALSE(std::filesystem::exists(File("Tunewright.tst")));
    Options.diagnostics = 2;  // any value but 0 is on
    WriteTrace("first");
    WriteTrace("");
    WriteTrace("third");
    EXPECT_EQ(ReadFileBytes(File("Tunewright.tst")), "first\r\n\r\nthird\r\n");
}

TEST_F(OptionsFiles, HitLogLineIsDateTimeAndHostRunTogether) {
    EXPECT_EQ(HitLogLine(EncodeDate(2015, 12, 7) + EncodeTime(10, 15, 3, 0), "client.example"),
              "12/7/2015 10:15:03 AMclient.example");
    EXPECT_EQ(HitLogLine(EncodeDate(2016, 1, 1), "10.1.2.3"), "1/1/201610.1.2.3");  // midnight: no time
}
}  // namespace
