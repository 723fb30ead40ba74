#include "study/study_results.h"

#include "study/models.h"

#include "core/fields.h"
#include "core/numtext.h"

#include <algorithm>

namespace temra::study {

const std::array<const char*, 21> kResultColumns = {"sample",
                                                    "model",
                                                    "gases",
                                                    "n",
                                                    "dof",
                                                    "chi2",
                                                    "p",
                                                    "case",
                                                    "elevation_m",
                                                    "elevation_lo_m",
                                                    "elevation_hi_m",
                                                    "temperature_C",
                                                    "temperature_lo_C",
                                                    "temperature_hi_C",
                                                    "excess_air",
                                                    "excess_air_lo",
                                                    "excess_air_hi",
                                                    "fractionation",
                                                    "fractionation_lo",
                                                    "fractionation_hi",
                                                    "flags"};

std::vector<ResultCell> ResultRow(const StudyResult& r, const StudyOptions& o) {
    using K = ResultCell::Kind;
    auto text = [](std::string t) { return ResultCell{K::Text, 0, std::move(t)}; };
    auto number = [](double v) { return ResultCell{K::Double, v, {}}; };
    auto maybe = [&](const std::optional<double>& v) { return v ? number(*v) : ResultCell{}; };
    std::vector<ResultCell> row(kResultColumns.size());
    row[0] = text(r.sample);
    if (!r.error.empty()) {
        row[20] = text("error: " + r.error);
        return row;
    }
    row[1] = text(std::string(InfoOf(o.model).name));
    row[2] = text(GasList(o.gases));
    row[3] = number(r.n);
    row[4] = number(r.dof);
    row[5] = number(r.chi2);
    row[6] = maybe(r.p);
    row[7] = number(static_cast<double>(r.caseNo));
    row[8] = number(r.elevation);
    row[9] = number(r.elevationLo);
    row[10] = number(r.elevationHi);
    row[11] = number(r.temperature);
    row[12] = number(r.temperatureLo);
    row[13] = number(r.temperatureHi);
    row[14] = number(r.A);
    row[15] = number(r.ALo);
    row[16] = number(r.AHi);
    row[17] = maybe(r.F);
    row[18] = maybe(r.FLo);
    row[19] = maybe(r.FHi);
    std::string flags;
    for (const std::string& f : r.flags) flags += (flags.empty() ? "" : ";") + f;
    row[20] = text(flags);
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
