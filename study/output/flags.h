// The table of a result's flags: each flag's name as the results write it, its
// meaning in words, and what sets it. The windows' tooltips, temra-cli's help and
// the guide say the flags as this table does; the flags of a model's parameter at
// a bound come from the table of models (study/models/models.h).
#pragma once

#include "study/results.h"

#include <string>
#include <string_view>
#include <vector>

namespace temra::study {

struct FlagInfo {
    std::string_view name;    // "edge-T"; a name ending in ':' is followed by what it concerns
    std::string_view meaning; // in words; %1 stands for what a name ending in ':' concerns
    std::string_view setBy;   // what sets it
};

// Every flag a result may carry, the models' bound flags included, in the order
// the results write them.
std::vector<FlagInfo> Flags();

// A flag's name as the help lists it ("missing:<gas>"), and its meaning of any
// gas ("the gas is fitted, but …").
std::string FlagName(const FlagInfo& flag);
std::string FlagMeaningInGeneral(const FlagInfo& flag);

// A flag's meaning in words ("missing:Kr-84" says Kr-84); empty for a flag the
// table lacks.
std::string FlagMeaning(std::string_view flag);

} // namespace temra::study
