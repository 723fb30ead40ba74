// Splitting a loop over the machine's cores with standard threads. The split never
// changes a result: each part computes exactly what the single loop would for its
// own indices.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <thread>
#include <vector>

namespace temra {

// The most threads a loop is split over (0: one per core, at most 16). A
// program sets it once, before its work begins (temra-cli's --threads).
inline std::atomic<unsigned> threadLimit{0};

// How many parts a loop over `count` items is split into: one part per core (or
// per thread the limit allows), and no split below `minPerPart` items a part.
inline unsigned PartCount(std::int64_t count, std::int64_t minPerPart) {
    const unsigned limit = threadLimit.load(std::memory_order_relaxed);
    const unsigned cores =
        std::max(1u, std::min(limit > 0 ? limit : std::thread::hardware_concurrency(), 16u));
    const auto byWork = static_cast<std::uint64_t>(std::max<std::int64_t>(1, count / minPerPart));
    return static_cast<unsigned>(std::min<std::uint64_t>(cores, byWork));
}

// Runs fn(part) for part = 0 .. parts - 1, on parts threads; the calling thread
// runs part 0, and any part for which no thread can be started (the system is out
// of threads or of address space). An exception of the lowest part that threw is
// passed on once all parts have ended.
template <typename Fn> void RunParts(unsigned parts, Fn&& fn) {
    if (parts <= 1) {
        fn(0u);
        return;
    }
    std::vector<std::exception_ptr> errors(parts);
    auto run = [&](unsigned p) {
        try {
            fn(p);
        } catch (...) {
            errors[p] = std::current_exception();
        }
    };
    std::vector<std::thread> threads;
    std::vector<unsigned> here{0u};
    threads.reserve(parts - 1);
    here.reserve(parts);
    for (unsigned p = 1; p < parts; ++p) {
        try {
            threads.emplace_back(run, p);
        } catch (...) { // no thread: the part runs here
            here.push_back(p);
        }
    }
    for (unsigned p : here) run(p);
    for (auto& t : threads) t.join();
    for (auto& e : errors)
        if (e) std::rethrow_exception(e);
}

// Runs fn(i) for i = 0 .. count - 1 over `parts` threads (RunParts), each thread
// taking the next item as it finishes one, so that items of uneven cost keep every
// thread busy; once an item has thrown, no thread takes another, and an exception
// is passed on as RunParts passes it. Each item must compute what it would alone.
template <typename Fn> void RunItems(std::size_t count, unsigned parts, Fn&& fn) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    RunParts(parts, [&](unsigned) {
        for (std::size_t i = next++; i < count && !failed.load(std::memory_order_relaxed);
             i = next++) {
            try {
                fn(i);
            } catch (...) {
                failed = true;
                throw;
            }
        }
    });
}

} // namespace temra
