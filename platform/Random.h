#pragma once
// The pseudo-random generator: a 32-bit linear congruential state shared by
// the playlist draws and the engine's request tags and file names. Each
// thread has its own state, so requests served at once on several threads
// of one process never draw from each other's sequence; a new thread starts
// at 0 like the process.
#include <cstdint>

extern thread_local std::uint32_t RandomState;

// state := state * 134775813 + 1 (mod 2^32); the result is the upper 32 bits
// of state * n, so it lies in 0 .. n-1 for n >= 1.
std::uint32_t NextRandom(std::uint32_t n);
// Seeds from the UTC time of day: ((h * 60 + m) * 60 + s) * 1000 + ms.
void SeedRandom();
