#pragma once
// The process's one pseudo-random generator: a 32-bit linear congruential
// state shared by the playlist draws and the engine's request tags and file
// names. Not thread-safe by design: requests run one at a time per process.
#include <cstdint>

extern std::uint32_t RandomState;

// state := state * 134775813 + 1 (mod 2^32); the result is the upper 32 bits
// of state * n, so it lies in 0 .. n-1 for n >= 1.
std::uint32_t NextRandom(std::uint32_t n);
// Seeds from the UTC time of day: ((h * 60 + m) * 60 + s) * 1000 + ms.
void SeedRandom();
