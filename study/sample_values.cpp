#include "study/sample_values.h"

#include "core/fields.h"
#include "core/numtext.h"

#include <cmath>

namespace temra::study {

Values ReadValues(const Sample& s, const StudyOptions& o, char separator,
                  std::vector<CellProblem>* problems) {
    Values v;
    const std::string where = " on row " + std::to_string(s.row);
    auto fail = [&](int column, const std::string& what) {
        if (!problems) throw StudyError(what);
        problems->push_back({column, what});
    };
    // A row that is no sample as the table stands is said first, at its name.
    if (!s.problem.empty()) fail(SampleColumn::kName, s.problem);
    // The number in a cell, or nothing when it is not one (a problem).
    auto number = [&](int column, const std::string& text,
                      const std::string& what) -> std::optional<double> {
        try {
            return ParseDouble(text, FieldRef{}, separator);
        } catch (const TemraError& e) {
            fail(column, what + where + ": " + e.detail());
            return std::nullopt;
        }
    };
    for (int g = 1; g <= GasCount; ++g) {
        const auto i = static_cast<std::size_t>(g - 1);
        if (!o.gases[i]) continue;
        const int mc = SampleColumn::Measured(g), ec = SampleColumn::Error(g);
        if (s.measured[i].empty()) continue; // fitted without it
        v.present[i] = true;
        const auto m = number(mc, s.measured[i], GasName(g));
        if (m && !(*m > 0))
            fail(mc, GasName(g) + where + ": " + s.measured[i] + " is not a positive number");
        if (m) v.measured[i] = *m;
        if (s.error[i].empty()) {
            v.sigma[i] = o.relErr * v.measured[i];
        } else {
            const auto e = number(ec, s.error[i], GasName(g) + " err");
            if (e && !(*e > 0))
                fail(ec,
                     GasName(g) + " err" + where + ": " + s.error[i] + " is not a positive number");
            if (e) v.sigma[i] = *e;
        }
        if (m && *m > 0 && !(v.sigma[i] > 0 && std::isfinite(v.sigma[i])))
            fail(ec, GasName(g) + where + ": no usable error");
    }
    if (!s.chloride.empty()) {
        const auto c = number(SampleColumn::kChloride, s.chloride, "chloride");
        if (c && !(*c >= 0))
            fail(SampleColumn::kChloride, "chloride" + where + ": " + s.chloride + " is below 0");
        if (c) v.chloride = *c;
    } else {
        v.chloride = ParseDouble(o.grid.Text15, fields::Ref(FieldId::Chloride), separator);
    }
    const std::string densityText = s.density.empty() ? o.grid.Text14 : s.density;
    try {
        v.density = ParseSingle(densityText, fields::Ref(FieldId::Density), separator);
        if (!(v.density > 0))
            fail(SampleColumn::kDensity,
                 "density" + where + ": " + densityText + " is not above 0");
    } catch (const TemraError& e) {
        fail(SampleColumn::kDensity, "density" + where + ": " + e.detail());
    }
    // Per gram of water, a concentration and its error times the density as typed
    // (g/cm3) are per cm3 of water; a product beyond the range of numbers is a
    // problem of its cell.
    if (o.perGram && v.density > 0) {
        const double density = ParseDouble(densityText, FieldRef{}, separator);
        for (int g = 1; g <= GasCount; ++g) {
            const auto i = static_cast<std::size_t>(g - 1);
            if (!o.gases[i] || !(v.measured[i] > 0)) continue;
            v.measured[i] *= density;
            v.sigma[i] *= density;
            if (std::isfinite(v.measured[i]) && std::isfinite(v.sigma[i])) continue;
            std::string what = GasName(g) + where;
            what += ": " + s.measured[i];
            what += " per gram × density " + densityText;
            fail(SampleColumn::Measured(g), what + " is too large");
        }
    }
    if (!s.elevation.empty()) {
        const auto e = number(SampleColumn::kElevation, s.elevation, "elevation");
        if (e) v.elevation = *e;
    }
    return v;
}

std::vector<CellProblem> SampleProblems(const Sample& sample, const StudyOptions& options,
                                        char separator) {
    std::vector<CellProblem> problems;
    ReadValues(sample, options, separator, &problems);
    return problems;
}

} // namespace temra::study
