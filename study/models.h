// The table of excess-air models: what each is called where, and which of the
// study's options it uses. The command line's choices, the samples window's
// list, the Settings sheet and the result rows are drawn from it; the fit of
// each model lives in study/continuum.* and study/study_fit.*.
#pragma once

#include "study/study_options.h"

#include <array>
#include <string_view>

namespace temra::study {

struct ModelInfo {
    Model model;
    std::string_view key;      // temra-cli's --model ("ua")
    std::string_view name;     // the result rows' model column ("UA")
    std::string_view choice;   // the samples window's list ("UA: unfractionated excess air")
    std::string_view settings; // the Settings sheet's "Model"
    std::string_view help;     // temra-cli's help, after the key
    bool usesAMax;             // the largest A (--ce-a-max, the window's box) bounds it
    bool hasF;                 // it fits a fractionation F
};

inline constexpr std::array<ModelInfo, 2> kModels = {{
    {Model::UA, "ua", "UA", "UA: unfractionated excess air",
     "UA (unfractionated excess air, A >= 0)", "unfractionated excess air", false, false},
    {Model::CE, "ce", "CE", "CE: closed-system equilibration", "CE (closed-system equilibration)",
     "closed-system equilibration", true, true},
}};

// The row of a model.
constexpr const ModelInfo& InfoOf(Model model) {
    for (const ModelInfo& m : kModels)
        if (m.model == model) return m;
    return kModels.front();
}

// The row whose key is `key` (any case), or nullptr.
const ModelInfo* ModelOfKey(std::string_view key);

} // namespace temra::study
