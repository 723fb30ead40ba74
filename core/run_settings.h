// What a run is made with beside its boxes: the decimal separator of the user's
// locale and the memory this process may claim. The programs set it once; the
// grid run, the searches and the study read it.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>

namespace temra {

// The solubility data set a run computes with (the table in
// core/solubility_sets.h): Temra's own model unless a program chooses another.
enum class SolubilitySet { Builtin, Weiss, Jenkins2019 };

struct RunSettings {
    // Decimal separator of the user's locale; '.' is always accepted as well.
    char DecimalSeparator = '.';

    // The solubility data set of the grid run; the input page keeps Temra's own.
    SolubilitySet Solubility = SolubilitySet::Builtin;

    // Every array that grows with the input is checked against the memory this
    // process may still claim before it is made: the smaller of MemoryBudget and
    // what MemoryProbe reports (the programs install the operating system's
    // answer; tests set a fixed budget).
    std::uint64_t MemoryBudget = std::uint64_t{4} << 30;
    std::function<std::uint64_t()> MemoryProbe;
    std::uint64_t MemoryAvailable() const {
        return MemoryProbe ? std::min(MemoryBudget, MemoryProbe()) : MemoryBudget;
    }
    // Memory that a caller keeps per grid case beside the grid (the desktop
    // program's graph), for at most ExtraCasesLimit cases, counted into every
    // grid run's need.
    std::uint64_t ExtraBytesPerCase = 0;
    std::uint64_t ExtraCasesLimit = std::numeric_limits<std::uint64_t>::max();
};

} // namespace temra
