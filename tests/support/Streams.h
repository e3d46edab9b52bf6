#pragma once
// Streams for handing to an engine, which owns and frees them: one that keeps
// what is written beyond the stream's life, one that answers reads by script.
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/Streams.h"

namespace support {

// Keeps every write the engine makes, in order; it outlives the stream the
// engine frees at the end of the request.
struct TWrites {
    std::vector<std::string> Pieces;
    std::string All() const;
};

class TSinkStream : public TStream {
public:
    explicit TSinkStream(std::shared_ptr<TWrites> writes) : writes_(std::move(writes)) {}
    int Read(void*, int) override { return -1; }
    int Write(const void* buffer, int count) override;
    std::int64_t Seek(std::int64_t, int) override { return 0; }

private:
    std::shared_ptr<TWrites> writes_;
};

// Answers each scripted piece in turn ("" is an answer of 0: nothing yet),
// then Tail for ever (-1: no more data; 0: a stalled client).
class TScriptedInput : public TStream {
public:
    TScriptedInput(std::deque<std::string> answers, int tail) : answers_(std::move(answers)), tail_(tail) {}
    int Read(void* buffer, int count) override;
    int Write(const void*, int) override { return 0; }
    std::int64_t Seek(std::int64_t, int) override { return 0; }

private:
    std::deque<std::string> answers_;
    int tail_;
};

}  // namespace support
