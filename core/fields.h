// Every input box of the windows in one table: the window and control it is, what
// the user reads beside it, its unit, its stored default text, and the
// command-line option that fills it with that option's help. The error messages,
// the windows' captions and defaults and temra-cli's options and help are all
// drawn from here, so a field is added in one place.
#pragma once

#include "core/errors.h"

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace temra {

struct Form1Texts;
struct DialogTexts;
struct Dialog1Texts;

enum class FieldId : int {
    He,
    Ne,
    Ar,
    Kr,
    Xe,
    N2,
    O2, // the measured gases, in gas order
    Density,
    Chloride,
    ElevMin,
    ElevMax,
    ElevStep,
    TempMax,
    TempStep,
    MaatA,
    MaatB,
    MaatTick,
    Calculate,    // the grid as a whole ("Calculate Solubility")
    GasSelection, // "Tick to Delete Gas" on the solubility graph
    EaMin,
    EaMax,
    EaStep,
    PairSelection, // the gas-pair selection
    PairEaMin,
    PairEaMax,
    PairEaStep,
    PairTempMin,
    PairTempMax,
    PairTempStep,
    Count,
};

struct Field {
    FieldId id = FieldId::Count;
    std::string_view window = {};  // "Form1", "Dialog", "Dialog1", "Form2", "SolGraphForm"
    std::string_view control = {}; // "Text14", "Check1", ...
    std::string_view label = {};   // what the user reads beside it (messages name it so)
    std::string_view unit = {};
    std::string_view defaultText = {}; // the stored default of a text box
    std::string_view option = {};      // temra-cli's option; empty when it has none
    std::string_view help = {};        // temra-cli's help for the option
    // The text (or tick) it holds in the windows' texts: one of these is set for
    // a box the computations read.
    std::string Form1Texts::*form1 = nullptr;
    bool Form1Texts::*tick = nullptr;
    std::string DialogTexts::*dialog = nullptr;
    std::string Dialog1Texts::*dialog1 = nullptr;
};

inline constexpr std::size_t kFieldCount = static_cast<std::size_t>(FieldId::Count);
extern const std::array<Field, kFieldCount> kFields;

const Field& FieldOf(FieldId id);

namespace fields {
// The field of a measured gas, by gas index.
FieldId Measured(int gas);
// The field as an error names it.
FieldRef Ref(FieldId id);
} // namespace fields

} // namespace temra
