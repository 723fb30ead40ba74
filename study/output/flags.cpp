#include "study/output/flags.h"

#include "study/models/models.h"

namespace temra::study {

namespace {

// The flags that are not a model's bound, in the order the results write them;
// the models' bound flags come after the ranges' cuts.
constexpr FlagInfo kBefore[] = {
    {flag::kEdgeT,
     "the best temperature is at an end of the grid (0 °C or the highest temperature): the "
     "minimum may lie beyond it",
     "the fit's best"},
    {flag::kEdgeE,
     "the best elevation is at an end of the grid (0 m or the highest elevation): the minimum "
     "may lie beyond it",
     "the fit's best"},
    {flag::kEdgeMaat,
     "the best lies on the MAAT window's edge, 3 °C from the line: the gases alone ask for a "
     "recharge further from the line than the window allows",
     "the fit's best, with the MAAT window"},
    {flag::kCutT,
     "the 1σ temperature range reaches an end of the grid, which cuts it: it may reach further",
     "the ranges"},
    {flag::kCutE,
     "the 1σ elevation range reaches an end of the grid, which cuts it: it may reach further",
     "the ranges"},
    {flag::kCutMaat,
     "a 1σ range of temperature or elevation reaches the MAAT window's edge: the gases alone "
     "allow more, and the range holds within the window",
     "the ranges, with the MAAT window"},
};

constexpr FlagInfo kAfter[] = {
    {flag::kPoorFit,
     "p is below 0.01: nowhere on the grid does the model explain the gases within their errors",
     "the fit's chi2"},
    {flag::kUnderdetermined,
     "no more gases than free parameters: p is left empty, and chi2 and the ranges do not test "
     "the model",
     "the degrees of freedom"},
    {flag::kMissing, "%1 is fitted, but the sample has no value for it: fitted without it",
     "the sample's values"},
    {flag::kSaline,
     "the chloride is beyond 0.033 mol/l, where the built-in salt correction moves the recharge "
     "temperature by 0.1 °C against sea-salt solubilities: it may be off by more (+1.4 °C at "
     "sea water's 35 g/kg)",
     "the sample's chloride"},
    {flag::kBeyondData,
     "the recharge temperature or the salinity lies beyond the range the solubility data set "
     "(--solubility) was measured over: its concentrations there are extrapolated",
     "the fit's best, with --solubility"},
    {flag::kPriorCut,
     "the posterior's 68 % interval with the lapse-rate prior reaches a cell at the grid's end, "
     "which cuts it: widen the grid",
     "the lapse-rate prior"},
    {flag::kGroupMisfit,
     "the group's p is below 0.01: its members' gases do not fit one shared recharge "
     "temperature and elevation",
     "the ensemble fit"},
};

} // namespace

std::vector<FlagInfo> Flags() {
    std::vector<FlagInfo> all(std::begin(kBefore), std::end(kBefore));
    for (const ModelInfo& model : Models())
        for (int k = 0; k < model.paramCount; ++k) {
            const ModelParam& p = model.params[static_cast<std::size_t>(k)];
            const std::string_view by = k == 0 ? "the model's excess air" : "the model's parameter";
            for (const auto& [name, meaning] :
                 {std::pair{p.lowFlag, p.lowMeaning}, std::pair{p.highFlag, p.highMeaning}}) {
                if (name.empty()) continue;
                bool known = false;
                for (const FlagInfo& f : all) known = known || f.name == name;
                if (!known) all.push_back({name, meaning, by});
            }
        }
    all.insert(all.end(), std::begin(kAfter), std::end(kAfter));
    return all;
}

std::string FlagName(const FlagInfo& flag) {
    std::string name(flag.name);
    if (!name.empty() && name.back() == ':') name += "<gas>";
    return name;
}

std::string FlagMeaningInGeneral(const FlagInfo& flag) {
    std::string meaning(flag.meaning);
    if (const auto at = meaning.find("%1"); at != std::string::npos)
        meaning.replace(at, 2, "the gas");
    return meaning;
}

std::string FlagMeaning(std::string_view text) {
    const auto colon = text.find(':');
    const std::string_view key = colon == std::string_view::npos ? text : text.substr(0, colon + 1);
    for (const FlagInfo& f : Flags()) {
        if (f.name != key) continue;
        std::string meaning(f.meaning);
        if (colon != std::string_view::npos) {
            const auto at = meaning.find("%1");
            if (at != std::string::npos) meaning.replace(at, 2, text.substr(colon + 1));
        }
        return meaning;
    }
    return {};
}

} // namespace temra::study
