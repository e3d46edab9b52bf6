#pragma once
// Byte streams with read, write and seek. Read returns the number of bytes
// delivered: > 0 data, 0 nothing available yet (the caller may poll again),
// < 0 no more data will come. A memory stream answers 0 at its end; a stream
// over a descriptor or a file answers -1 at end of file.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Files.h"
#include "platform/Object.h"

constexpr int soFromBeginning = 0;
constexpr int soFromCurrent = 1;
constexpr int soFromEnd = 2;

class TStream : public TObject {
public:
    virtual int Read(void* buffer, int count) = 0;
    virtual int Write(const void* buffer, int count) = 0;
    virtual std::int64_t Seek(std::int64_t offset, int origin) = 0;

    std::int64_t Position() { return Seek(0, soFromCurrent); }
    void SetPosition(std::int64_t position) { Seek(position, soFromBeginning); }
    virtual std::int64_t Size();

    int WriteString(std::string_view text) { return Write(text.data(), static_cast<int>(text.size())); }
    // Copies the rest of source (from its position) into this stream in
    // pieces of at most 1032 bytes; returns the byte count.
    std::int64_t CopyFrom(TStream& source);
};

// A memory or file stream that has reached its end will not grow: a read of
// 0 there is the end of the data, where a pipe's or a socket's 0 means
// "nothing yet".
[[nodiscard]] bool AtEndForGood(TStream& stream);

class TMemoryStream : public TStream {
public:
    int Read(void* buffer, int count) override;
    int Write(const void* buffer, int count) override;
    std::int64_t Seek(std::int64_t offset, int origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }

    const char* Memory() const { return data_.data(); }
    std::string DataString() const { return std::string(data_.begin(), data_.end()); }
    void SetSize(std::int64_t size);
    void Clear();
    [[nodiscard]] bool LoadFromFile(const std::string& path);

private:
    std::vector<char> data_;
    std::int64_t position_ = 0;
};

// A stream over a descriptor it does not own (standard input and output).
// Writes loop until every byte is written or the descriptor fails.
class THandleStream : public TStream {
public:
    explicit THandleStream(THandle handle) : handle_(handle) {}
    int Read(void* buffer, int count) override;
    int Write(const void* buffer, int count) override;
    std::int64_t Seek(std::int64_t offset, int origin) override;
    THandle Handle() const { return handle_; }

protected:
    THandle handle_;

private:
    // The reader of a pipe or socket has gone (EPIPE): later writes are
    // dropped without a call, so the response ends once and quietly.
    bool readerGone_ = false;
};

constexpr int fmCreate = 0xFF00;

// A file opened by name and closed when the stream is freed. The
// constructor raises EFileError "Cannot create file \"X\"" or
// "Cannot open file \"X\"".
class TFileStream : public THandleStream {
public:
    TFileStream(const std::string& path, int mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;
};
