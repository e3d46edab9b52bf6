#include "platform/Streams.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/Exception.h"
#include "tests/support/Failures.h"
#include "tests/support/TempFolder.h"

TEST(TMemoryStream, ReadsZeroAtEndAndGrowsOnWrite) {
    TMemoryStream stream;
    EXPECT_EQ(stream.WriteString("hello"), 5);
    EXPECT_EQ(stream.Position(), 5);
    char buffer[16] = {};
    EXPECT_EQ(stream.Read(buffer, 4), 0) << "at its end a memory stream answers 0";
    stream.SetPosition(1);
    EXPECT_EQ(stream.Read(buffer, 16), 4);
    EXPECT_EQ(std::string(buffer, 4), "ello");
    EXPECT_EQ(stream.Seek(3, soFromEnd), 8);
    EXPECT_EQ(stream.Write("!", 1), 1);
    EXPECT_EQ(stream.DataString(), std::string("hello\0\0\0!", 9)) << "a gap reads as zero bytes";
    EXPECT_EQ(stream.Size(), 9);
    stream.SetSize(2);
    EXPECT_EQ(stream.Position(), 2);
    EXPECT_EQ(stream.DataString(), "he");
}

TEST(TStream, CopyFromCopiesTheRest) {
    TMemoryStream source, target;
    const std::string big(5000, 'q');
    source.WriteString("skip" + big);
    source.SetPosition(4);
    EXPECT_EQ(target.CopyFrom(source), 5000);
    EXPECT_EQ(target.DataString(), big);
}

TEST(THandleStream, EndOfFileIsNegativeButAnEmptyOpenPipeIsNot) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(fcntl(ends[0], F_SETFL, O_NONBLOCK), 0);
    THandleStream reader(ends[0]);
    THandleStream writer(ends[1]);
    char buffer[8];
    // Regression: a non-blocking descriptor with nothing waiting reported
    // end of data (-1) instead of "nothing yet" (0).
    EXPECT_EQ(reader.Read(buffer, 8), 0);
    EXPECT_EQ(writer.WriteString("abc"), 3);
    EXPECT_EQ(reader.Read(buffer, 8), 3);
    close(ends[1]);
    EXPECT_EQ(reader.Read(buffer, 8), -1) << "the writer has gone";
    close(ends[0]);
}

TEST(TFileStream, ReadWriteAndEndOfFile) {
    support::TTempFolder dir;
    const std::string path = ToWindowsPath(dir / "data.bin");
    {
        TFileStream out(path, fmCreate);
        EXPECT_EQ(out.WriteString("0123456789"), 10);
        EXPECT_EQ(out.Size(), 10);
    }
    TFileStream in(path, fmOpenRead | fmShareDenyNone);
    char buffer[16] = {};
    EXPECT_EQ(in.Seek(-4, soFromEnd), 6);
    EXPECT_EQ(in.Read(buffer, 16), 4);
    EXPECT_EQ(std::string(buffer, 4), "6789");
    EXPECT_EQ(in.Read(buffer, 16), -1) << "a file stream answers -1 at its end";
    EXPECT_EQ(in.Position(), 10);
}

TEST(TFileStream, ErrorMessagesNameTheFile) {
    support::TTempFolder dir;
    const std::string missing = dir / "missing.txt";
    const std::string unwritable = dir / "no/folder.txt";
    EXPECT_EQ(support::FailureOf<EFileError>([&] { TFileStream stream(missing, fmOpenRead); }),
              "Cannot open file \"" + missing + "\"");
    EXPECT_EQ(support::FailureOf<EFileError>([&] { TFileStream stream(unwritable, fmCreate); }),
              "Cannot create file \"" + unwritable + "\"");
    EXPECT_THROW(TFileStream(dir.Path(), fmOpenRead), EFileError) << "a folder is not a file";
}

// Regression: fmCreate combined with a share mode was taken for an open of
// an existing file, so creating a new file failed with "Cannot open file".
TEST(TFileStream, CreateWithShareModeCreates) {
    support::TTempFolder dir;
    const std::string path = dir / "new.txt";
    {
        TFileStream stream(path, fmCreate | fmShareDenyNone);
        stream.WriteString("x");
    }
    EXPECT_EQ(FileSizeOf(path), 1);
    {
        TFileStream again(path, fmCreate | fmShareDenyNone);
    }
    EXPECT_EQ(FileSizeOf(path), 0) << "creating truncates";
}
