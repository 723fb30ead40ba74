#include "study/input/sample_values.h"

#include "core/fields.h"
#include "core/numtext.h"

#include <cmath>
#include <optional>
#include <string>

namespace temra::study {

namespace {

// Reads one sample's cells in their order; each value out of its range is a
// problem of its column, collected or (without a list) thrown.
class ValueReader {
  public:
    ValueReader(const Sample& s, const StudyOptions& o, char separator,
                std::vector<CellProblem>* problems)
        : s_(s), o_(o), separator_(separator), problems_(problems),
          where_(" on row " + std::to_string(s.row)) {}

    Values Read() {
        // A row that is no sample as the table stands is said first, at its name.
        if (!s_.problem.empty()) Fail(SampleColumn::kName, s_.problem);
        for (int g = 0; g < GasCount; ++g)
            if (o_.gases[static_cast<std::size_t>(g)])
                Gas(g);
            else
                Beyond(g);
        Chloride();
        const std::string densityText = Density();
        if (o_.perGram && v_.density > 0) PerGram(densityText);
        if (!s_.elevation.empty()) {
            const auto e = Number(SampleColumn::kElevation, s_.elevation, "elevation");
            if (e) v_.elevation = *e;
        }
        return v_;
    }

  private:
    void Fail(int column, const std::string& what) {
        if (!problems_) throw StudyError(what);
        problems_->push_back({column, what});
    }

    // The number in a cell, or nothing when it is not one (a problem).
    std::optional<double> Number(int column, const std::string& text, const std::string& what) {
        try {
            return ParseDouble(text, FieldRef{}, separator_);
        } catch (const TemraError& e) {
            Fail(column, what + where_ + ": " + e.detail());
            return std::nullopt;
        }
    }

    // A fitted gas: its value above 0 and its error (above 0, or the relative
    // error of the value); a blank value leaves the gas out of the fit.
    void Gas(int g) {
        const auto i = static_cast<std::size_t>(g);
        const int mc = SampleColumn::Measured(g), ec = SampleColumn::Error(g);
        if (s_.measured[i].empty()) return; // fitted without it
        v_.present[i] = true;
        const auto m = Number(mc, s_.measured[i], GasName(g));
        if (m && !(*m > 0))
            Fail(mc, GasName(g) + where_ + ": " + s_.measured[i] + " is not a positive number");
        if (m) v_.measured[i] = *m;
        if (s_.error[i].empty()) {
            v_.sigma[i] = o_.relErr * v_.measured[i];
        } else {
            const auto e = Number(ec, s_.error[i], GasName(g) + " err");
            if (e && !(*e > 0))
                Fail(ec, GasName(g) + " err" + where_ + ": " + s_.error[i] +
                             " is not a positive number");
            if (e) v_.sigma[i] = *e;
        }
        if (m && *m > 0 && !(v_.sigma[i] > 0 && std::isfinite(v_.sigma[i])))
            Fail(ec, GasName(g) + where_ + ": no usable error");
    }

    // A gas not fitted: its value and error when they are positive numbers.
    void Beyond(int g) {
        const auto i = static_cast<std::size_t>(g);
        if (s_.measured[i].empty()) return;
        try {
            const double m = ParseDouble(s_.measured[i], FieldRef{}, separator_);
            const double e = s_.error[i].empty() ? o_.relErr * m
                                                 : ParseDouble(s_.error[i], FieldRef{}, separator_);
            if (!(m > 0) || !(e > 0) || !std::isfinite(m) || !std::isfinite(e)) return;
            v_.measured[i] = m;
            v_.sigma[i] = e;
            v_.beyond[i] = true;
        } catch (const TemraError&) {
        }
    }

    // The sample's chloride, or the input page's.
    void Chloride() {
        if (s_.chloride.empty()) {
            v_.chloride = ParseDouble(o_.grid.Text15, fields::Ref(FieldId::Chloride), separator_);
            return;
        }
        const auto c = Number(SampleColumn::kChloride, s_.chloride, "chloride");
        if (c && !(*c >= 0))
            Fail(SampleColumn::kChloride, "chloride" + where_ + ": " + s_.chloride + " is below 0");
        if (c) v_.chloride = *c;
    }

    // The sample's density, or the input page's; its text as typed.
    std::string Density() {
        std::string text = s_.density.empty() ? o_.grid.Text14 : s_.density;
        try {
            v_.density = ParseSingle(text, fields::Ref(FieldId::Density), separator_);
            if (!(v_.density > 0))
                Fail(SampleColumn::kDensity, "density" + where_ + ": " + text + " is not above 0");
        } catch (const TemraError& e) {
            Fail(SampleColumn::kDensity, "density" + where_ + ": " + e.detail());
        }
        return text;
    }

    // Per gram of water, a concentration and its error times the density as
    // typed (g/cm3) are per cm3 of water; a product beyond the range of numbers
    // is a problem of its cell.
    void PerGram(const std::string& densityText) {
        const double density = ParseDouble(densityText, FieldRef{}, separator_);
        for (int g = 0; g < GasCount; ++g) {
            const auto i = static_cast<std::size_t>(g);
            if (v_.beyond[i]) {
                v_.measured[i] *= density;
                v_.sigma[i] *= density;
                v_.beyond[i] = std::isfinite(v_.measured[i]) && std::isfinite(v_.sigma[i]);
                continue;
            }
            if (!o_.gases[i] || !(v_.measured[i] > 0)) continue;
            v_.measured[i] *= density;
            v_.sigma[i] *= density;
            if (std::isfinite(v_.measured[i]) && std::isfinite(v_.sigma[i])) continue;
            std::string what = GasName(g) + where_;
            what += ": " + s_.measured[i];
            what += " per gram × density " + densityText;
            Fail(SampleColumn::Measured(g), what + " is too large");
        }
    }

    const Sample& s_;
    const StudyOptions& o_;
    char separator_;
    std::vector<CellProblem>* problems_;
    std::string where_;
    Values v_;
};

} // namespace

Values ReadValues(const Sample& s, const StudyOptions& o, char separator,
                  std::vector<CellProblem>* problems) {
    return ValueReader(s, o, separator, problems).Read();
}

std::vector<CellProblem> SampleProblems(const Sample& sample, const StudyOptions& options,
                                        char separator) {
    std::vector<CellProblem> problems;
    ReadValues(sample, options, separator, &problems);
    return problems;
}

} // namespace temra::study
