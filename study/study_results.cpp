#include "study/study_results.h"

#include "study/models.h"

#include "core/fields.h"
#include "core/numtext.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace temra::study {

namespace {

using K = ResultCell::Kind;

ResultCell Text(std::string t) {
    return {K::Text, 0, std::move(t)};
}
ResultCell Number(double v) {
    return {K::Double, v, {}};
}
ResultCell Maybe(const std::optional<double>& v) {
    return v ? Number(*v) : ResultCell{};
}

std::string FlagText(const StudyResult& r) {
    if (!r.error.empty()) return "error: " + r.error;
    std::string flags;
    for (const std::string& f : r.flags) flags += (flags.empty() ? "" : ";") + f;
    return flags;
}

} // namespace

// clang-format off
const std::array<ResultColumn, 21> kResultColumns = {{
    {"sample", [](const StudyResult& r, const StudyOptions&) { return Text(r.sample); }},
    {"model", [](const StudyResult&, const StudyOptions& o) { return Text(std::string(InfoOf(o.model).name)); }},
    {"gases", [](const StudyResult&, const StudyOptions& o) { return Text(GasList(o.gases)); }},
    {"n", [](const StudyResult& r, const StudyOptions&) { return Number(r.n); }},
    {"dof", [](const StudyResult& r, const StudyOptions&) { return Number(r.dof); }},
    {"chi2", [](const StudyResult& r, const StudyOptions&) { return Number(r.chi2); }},
    {"p", [](const StudyResult& r, const StudyOptions&) { return Maybe(r.p); }},
    {"case", [](const StudyResult& r, const StudyOptions&) { return Number(static_cast<double>(r.caseNo)); }},
    {"elevation_m", [](const StudyResult& r, const StudyOptions&) { return Number(r.elevation); }},
    {"elevation_lo_m", [](const StudyResult& r, const StudyOptions&) { return Number(r.elevationLo); }},
    {"elevation_hi_m", [](const StudyResult& r, const StudyOptions&) { return Number(r.elevationHi); }},
    {"temperature_C", [](const StudyResult& r, const StudyOptions&) { return Number(r.temperature); }},
    {"temperature_lo_C", [](const StudyResult& r, const StudyOptions&) { return Number(r.temperatureLo); }},
    {"temperature_hi_C", [](const StudyResult& r, const StudyOptions&) { return Number(r.temperatureHi); }},
    {"excess_air", [](const StudyResult& r, const StudyOptions&) { return Number(r.A); }},
    {"excess_air_lo", [](const StudyResult& r, const StudyOptions&) { return Number(r.ALo); }},
    {"excess_air_hi", [](const StudyResult& r, const StudyOptions&) { return Number(r.AHi); }},
    {"fractionation", [](const StudyResult& r, const StudyOptions&) { return Maybe(r.F); }},
    {"fractionation_lo", [](const StudyResult& r, const StudyOptions&) { return Maybe(r.FLo); }},
    {"fractionation_hi", [](const StudyResult& r, const StudyOptions&) { return Maybe(r.FHi); }},
    {"flags", [](const StudyResult& r, const StudyOptions&) { return Text(FlagText(r)); }},
}};
// clang-format on

std::vector<ResultCell> ResultRow(const StudyResult& r, const StudyOptions& o) {
    std::vector<ResultCell> row;
    row.reserve(kResultColumns.size());
    for (const ResultColumn& c : kResultColumns) {
        const bool kept = r.error.empty() || std::string_view(c.name) == "sample" ||
                          std::string_view(c.name) == "flags";
        row.push_back(kept ? c.cell(r, o) : ResultCell{});
    }
    return row;
}

std::vector<std::pair<std::string, std::string>> StudySettings(const StudyOptions& o) {
    std::vector<std::pair<std::string, std::string>> s;
    const ModelInfo& model = InfoOf(o.model);
    s.emplace_back("Model", std::string(model.settings));
    if (model.usesAMax) s.emplace_back("Largest A (cm3 STP/g)", ExactText(o.ceAMax));
    if (model.hasF) s.emplace_back("F", "0 to 1");
    s.emplace_back("Gases", GasList(o.gases));
    s.emplace_back("Relative error (where a sample has none)", ExactText(o.relErr));
    s.emplace_back("Concentrations (and their errors)",
                   o.perGram ? "per gram of water (cm³ STP/g H2O), each multiplied by the "
                               "sample's density before the fit"
                             : "per cm³ of water (cm³ STP/cm³ H2O), as on the input page");
    for (const Field& f : kFields) {
        if (f.form1 && f.id != FieldId::ElevMin && f.id >= FieldId::Density)
            s.emplace_back(std::string(f.label), o.grid.*f.form1);
        if (f.tick) s.emplace_back(std::string(f.label), o.grid.*f.tick ? "ticked" : "not ticked");
    }
    return s;
}

std::vector<std::pair<std::string, std::string>>
ColumnSettings(const std::vector<ColumnNote>& notes) {
    std::vector<std::pair<std::string, std::string>> s;
    s.reserve(notes.size());
    for (const ColumnNote& n : notes) s.emplace_back("Column \"" + n.column + "\"", n.reading);
    return s;
}

std::vector<std::string> ChangedSettings(const StudyOptions& before, const StudyOptions& after) {
    const auto was = StudySettings(before), now = StudySettings(after);
    auto valueIn = [](const auto& settings, const std::string& name) {
        for (const auto& s : settings)
            if (s.first == name) return s.second;
        return std::string("none");
    };
    std::vector<std::string> names;
    names.reserve(was.size() + now.size());
    for (const auto& s : was) names.push_back(s.first);
    for (const auto& s : now)
        if (std::find(names.begin(), names.end(), s.first) == names.end()) names.push_back(s.first);
    std::vector<std::string> changed;
    for (const std::string& name : names) {
        const std::string b = valueIn(was, name), a = valueIn(now, name);
        if (b == a) continue;
        std::string change = name;
        change += " (" + b;
        change += ", now " + a;
        changed.push_back(change + ")");
    }
    return changed;
}

} // namespace temra::study
