#include "platform/Streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/Exception.h"

std::int64_t TStream::Size() {
    const std::int64_t here = Seek(0, soFromCurrent);
    const std::int64_t end = Seek(0, soFromEnd);
    Seek(here, soFromBeginning);
    return end;
}

bool AtEndForGood(TStream& stream) {
    const bool fixed = dynamic_cast<TMemoryStream*>(&stream) != nullptr || dynamic_cast<TFileStream*>(&stream) != nullptr;
    return fixed && stream.Position() >= stream.Size();
}

std::int64_t TStream::CopyFrom(TStream& source) {
    char piece[1032];
    std::int64_t total = 0;
    for (;;) {
        const int n = source.Read(piece, sizeof piece);
        if (n <= 0) break;
        Write(piece, n);
        total += n;
    }
    return total;
}

int TMemoryStream::Read(void* buffer, int count) {
    if (count <= 0 || position_ >= Size()) return 0;
    const auto n = static_cast<int>(std::min<std::int64_t>(count, Size() - position_));
    std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

int TMemoryStream::Write(const void* buffer, int count) {
    if (count <= 0) return 0;
    const std::int64_t end = position_ + count;
    if (end > Size()) data_.resize(static_cast<std::size_t>(end));
    std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
    position_ = end;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, int origin) {
    std::int64_t target = offset;
    if (origin == soFromCurrent) target = position_ + offset;
    if (origin == soFromEnd) target = Size() + offset;
    position_ = std::max<std::int64_t>(0, target);
    return position_;
}

void TMemoryStream::SetSize(std::int64_t size) {
    data_.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, size)));
    position_ = std::min(position_, Size());
}

void TMemoryStream::Clear() {
    data_.clear();
    position_ = 0;
}

bool TMemoryStream::LoadFromFile(const std::string& path) {
    std::string content;
    if (!ReadWholeFile(path, content)) return false;
    data_.assign(content.begin(), content.end());
    position_ = 0;
    return true;
}

int THandleStream::Read(void* buffer, int count) {
    if (count <= 0) return 0;
    const int n = FileRead(handle_, buffer, count);
    if (n > 0) return n;
    // A non-blocking descriptor with nothing waiting has not ended.
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 0;
    return -1;
}

int THandleStream::Write(const void* buffer, int count) {
    if (readerGone_) return 0;
    const char* p = static_cast<const char*>(buffer);
    int done = 0;
    while (done < count) {
        const int n = FileWrite(handle_, p + done, count - done);
        if (n < 0 && errno == EPIPE) readerGone_ = true;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

std::int64_t THandleStream::Seek(std::int64_t offset, int origin) { return FileSeek(handle_, offset, origin); }

TFileStream::TFileStream(const std::string& path, int mode) : THandleStream(INVALID_HANDLE_VALUE) {
    // fmCreate may come combined with a share mode, as on the host.
    if ((mode & fmCreate) == fmCreate) {
        handle_ = FileCreate(path);
        if (handle_ == INVALID_HANDLE_VALUE) throw EFileError("Cannot create file \"" + path + "\"");
    } else {
        handle_ = FileOpen(path, mode);
        if (handle_ == INVALID_HANDLE_VALUE) throw EFileError("Cannot open file \"" + path + "\"");
    }
}

TFileStream::~TFileStream() {
    if (handle_ != INVALID_HANDLE_VALUE) FileClose(handle_);
}
