#include "gateway/engine/ProcessRole.h"

#include <atomic>

namespace {
// Set before any request thread exists (start-up, or the first question);
// atomic because a host's threads read it.
constexpr std::uint8_t Undecided = 0xFF;
std::atomic<std::uint8_t> decided{Undecided};
}  // namespace

TProcessRole ProcessRole() {
    const std::uint8_t role = decided.load(std::memory_order_acquire);
    return role == Undecided ? DecideProcessRole() : static_cast<TProcessRole>(role);
}

void SetProcessRole(TProcessRole role) { decided.store(static_cast<std::uint8_t>(role), std::memory_order_release); }
