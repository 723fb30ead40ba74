// The ten best cases of a list of deviations.
//
// The ranking is defined by ten passes over all cases: each pass takes the case with
// the smallest deviation strictly below the running minimum (which starts at the
// exclusion value 10000), so equal deviations go to the lower case number first,
// and a picked case is marked with 10000 so that it cannot be picked again. That is
// the same as taking, among the cases whose deviation is below 10000, the first
// ten in the order (deviation, case number). TopTen keeps exactly those while the
// cases stream past, in any order, without storing every deviation.
#pragma once

#include <array>
#include <cstdint>

namespace temra {

struct RankedCase {
    double rms;
    double sum; // the sum of squares the deviation came from (for pruning)
    std::int64_t caseNo;
};

class TopTen {
  public:
    static constexpr int kCapacity = 10;

    int size() const { return n_; }
    bool full() const { return n_ == kCapacity; }
    const RankedCase& operator[](int i) const { return e_[static_cast<std::size_t>(i)]; }

    static bool Before(double rms, std::int64_t caseNo, const RankedCase& other) {
        return rms < other.rms || (rms == other.rms && caseNo < other.caseNo);
    }

    // Offers a case; cases at or above 10000 (and NaN) never take a rank.
    bool Offer(double rms, double sum, std::int64_t caseNo) {
        if (!(rms < 10000.0)) return false;
        if (full() && !Before(rms, caseNo, e_[kCapacity - 1])) return false;
        int i = full() ? kCapacity - 1 : n_++;
        while (i > 0 && Before(rms, caseNo, e_[static_cast<std::size_t>(i - 1)])) {
            e_[static_cast<std::size_t>(i)] = e_[static_cast<std::size_t>(i - 1)];
            --i;
        }
        e_[static_cast<std::size_t>(i)] = {rms, sum, caseNo};
        return true;
    }

    void Merge(const TopTen& other) {
        for (int i = 0; i < other.n_; ++i) Offer(other[i].rms, other[i].sum, other[i].caseNo);
    }

  private:
    std::array<RankedCase, kCapacity> e_{};
    int n_ = 0;
};

} // namespace temra
