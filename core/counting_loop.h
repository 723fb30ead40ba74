// Counting loops: the variable starts at the first value, grows by repeated
// addition of the step in its own width, and a pass is made while it has not
// passed the end (not greater than the end for a positive step, not less for a
// negative one). Accumulated rounding therefore decides whether the end itself is
// reached, exactly as the user's figures are computed.
#pragma once

namespace temra {

template <typename T> constexpr bool LoopContinues(T value, T end, T step) {
    return step >= 0 ? value <= end : value >= end;
}

} // namespace temra
