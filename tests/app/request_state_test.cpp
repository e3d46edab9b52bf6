// Requests served at once on several threads of one process: each thread's
// query text, options record and random sequence stay its own.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/ManagerPages.h"
#include "app/OnlineUnit.h"
#include "app/Options.h"
#include "platform/Random.h"

namespace {
std::vector<std::uint32_t> Sequence(std::uint32_t seed, int count) {
    RandomState = seed;
    std::vector<std::uint32_t> out;
    for (int i = 0; i < count; ++i) out.push_back(NextRandom(1000));
    return out;
}

// Runs body(i) on count threads that all start together, so their steps
// interleave.
template <class F>
void Together(int count, F body) {
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i)
        threads.emplace_back([&, i] {
            ++ready;
            while (ready.load() < count) std::this_thread::yield();
            body(i);
        });
    for (auto& t : threads) t.join();
}
}  // namespace

TEST(RequestState, RandomSequencesDoNotInterleave) {
    constexpr int threads = 4, draws = 20000;
    std::vector<std::vector<std::uint32_t>> expected;
    for (int i = 0; i < threads; ++i) expected.push_back(Sequence(1000u + static_cast<std::uint32_t>(i), draws));
    std::vector<std::vector<std::uint32_t>> got(threads);
    Together(threads, [&](int i) {
        RandomState = 1000u + static_cast<std::uint32_t>(i);
        for (int n = 0; n < draws; ++n) {
            got[i].push_back(NextRandom(1000));
            if (n % 64 == 0) std::this_thread::yield();
        }
    });
    for (int i = 0; i < threads; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i], expected[i]);
    }
}

TEST(RequestState, QueryTextAndOptionsBelongToTheirThread) {
    constexpr int threads = 4, rounds = 5000;
    std::vector<int> wrong(threads, 0);
    Together(threads, [&](int i) {
        const std::string password = "pw" + std::to_string(i);
        Options.password.Assign(password);
        for (int n = 0; n < rounds; ++n) {
            QueryText = "X" + password + "-" + std::to_string(n);
            std::this_thread::yield();
            // The gate passes on this thread's own password in its own query;
            // a shared query or record would let another thread's through or
            // keep this one out.
            if (NextCommandLetter() != 'X' || !CheckPassword()) ++wrong[i];
            if (QueryText != password + "-" + std::to_string(n)) ++wrong[i];
        }
    });
    for (int i = 0; i < threads; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(wrong[i], 0);
    }
}

TEST(RequestState, NewThreadStartsWithTheProcessDefaults) {
    RandomState = 77;
    QueryText = "Sleft over";
    Options.diagnostics = 1;
    std::uint32_t state = 1;
    std::string query = "x";
    int diagnostics = -1;
    std::thread([&] {
        state = RandomState;
        query = QueryText;
        diagnostics = Options.diagnostics;
    }).join();
    EXPECT_EQ(state, 0u);
    EXPECT_EQ(query, "");
    EXPECT_EQ(diagnostics, 0);
}
