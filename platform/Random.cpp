#include "platform/Random.h"

#include "platform/DateTime.h"

thread_local std::uint32_t RandomState = 0;

std::uint32_t NextRandom(std::uint32_t n) {
    RandomState = RandomState * 134775813u + 1u;
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(RandomState) * n) >> 32);
}

void SeedRandom() {
    TSystemTime t;
    GetSystemTime(t);
    RandomState = static_cast<std::uint32_t>(((t.Hour * 60 + t.Minute) * 60 + t.Second) * 1000 + t.Milliseconds);
}
