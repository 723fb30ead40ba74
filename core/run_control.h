// Progress and cancellation of one long computation.
//
// The computation (on any thread, possibly split over several) tells how much of
// its work is done and looks at the cancel flag between steps; the window that
// started it reads the progress from its own thread and may cancel. A cancelled
// computation ends by throwing Cancelled before it changes any state, so the last
// complete results stay as they were.
//
// A computation made of parts whose own steps count their work afresh (a grid
// run inside a study fit) gives each part a control of its own made from the
// whole's: the part's Begin counts for the part alone, what it does counts into
// the whole as well, and a cancel of the whole reaches the part.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>

namespace temra {

class Cancelled : public std::exception {
  public:
    const char* what() const noexcept override { return "cancelled"; }
};

class RunControl {
  public:
    RunControl() = default;
    explicit RunControl(RunControl& whole) : whole_(&whole) {}
    // A part that hears the whole's Cancel but whose work the whole counts in a
    // measure of its own (a draw of a Monte Carlo run: the whole counts draws).
    enum Apart { kCountedApart };
    RunControl(RunControl& whole, Apart) : whole_(&whole), counts_(false) {}
    // A part worth `share` units of the whole: as the part's last stage goes from
    // 0 to its end, the whole counts up to `share` (a chunk of Monte Carlo draws,
    // its progress seen as its fits go on). Shared() says how many it has counted;
    // the caller counts the rest when the part ends.
    RunControl(RunControl& whole, std::uint64_t share)
        : whole_(&whole), counts_(false), share_(share) {}
    RunControl(const RunControl&) = delete;
    RunControl& operator=(const RunControl&) = delete;

    void Cancel() { cancelled_.store(true, std::memory_order_relaxed); }
    bool IsCancelled() const {
        return cancelled_.load(std::memory_order_relaxed) || (whole_ && whole_->IsCancelled());
    }
    void CheckCancelled() const {
        if (IsCancelled()) throw Cancelled();
    }

    // A new stage of `total` units of work.
    void Begin(std::uint64_t total) {
        done_.store(0, std::memory_order_relaxed);
        total_.store(total, std::memory_order_relaxed);
    }
    // `units` more are done; throws Cancelled when the run was cancelled.
    void Advance(std::uint64_t units) {
        Add(units);
        CheckCancelled();
    }
    // The same without the throw, for loops that must not unwind (they look at
    // IsCancelled themselves).
    void Add(std::uint64_t units) {
        done_.fetch_add(units, std::memory_order_relaxed);
        if (whole_ && counts_) whole_->Add(units);
        if (whole_ && share_ > 0) Share();
    }
    std::uint64_t Shared() const { return shared_.load(std::memory_order_relaxed); }
    // The units of the stage done so far, and its size.
    std::uint64_t Done() const { return done_.load(std::memory_order_relaxed); }
    std::uint64_t Total() const { return total_.load(std::memory_order_relaxed); }
    // 0 to 1; 0 while the size of the stage is not known.
    double Fraction() const {
        const auto total = total_.load(std::memory_order_relaxed);
        if (total == 0) return 0;
        const auto done = std::min(done_.load(std::memory_order_relaxed), total);
        return static_cast<double>(done) / static_cast<double>(total);
    }

  private:
    // Counts into the whole its share of the part's fraction done, never more than
    // once (the parts' threads may meet here).
    void Share() {
        const auto reached = static_cast<std::uint64_t>(static_cast<double>(share_) * Fraction());
        std::uint64_t before = shared_.load(std::memory_order_relaxed);
        while (reached > before &&
               !shared_.compare_exchange_weak(before, reached, std::memory_order_relaxed)) {
        }
        if (reached > before) whole_->Add(reached - before);
    }

    RunControl* whole_ = nullptr;
    bool counts_ = true;
    std::uint64_t share_ = 0;
    std::atomic<std::uint64_t> shared_{0};
    std::atomic<bool> cancelled_{false};
    std::atomic<std::uint64_t> done_{0};
    std::atomic<std::uint64_t> total_{0};
};

// A control nobody watches, for computations run to their end in one call.
inline RunControl& Unwatched() {
    thread_local RunControl control;
    return control;
}

} // namespace temra
