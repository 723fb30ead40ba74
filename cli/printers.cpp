// The printers of the computations' results: CSV, and the gas-pair graph as JSON.
#include "cli/cli_parts.h"

#include "cli/cli.h"
#include "cli/options.h"
#include "core/csv_field.h"
#include "core/module1.h"
#include "core/numtext.h"
#include "core/parallel.h"
#include "core/version.h"
#include "export/exports.h"
#include "platform/platform.h"
#include "study/input/sample_table.h"
#include "study/models/models.h"
#include "study/output/study_notes.h"
#include "study/output/study_results.h"
#include "study/study_fit.h"
#include "study/uncertainty/ensemble.h"
#include "study/uncertainty/monte_carlo.h"
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

namespace temra::cli {

namespace {

bool ValidCase(const SolubilityGrid& grid, CaseNumber c) {
    return c >= 1 && c <= grid.CaseCount;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

} // namespace

void PrintGrid(const Module1& m, std::ostream& out, std::ostream& err) {
    out << "case,elevation_m,temperature_C";
    for (const Gas& gas : kGases) out << ',' << gas.graphLabel;
    out << '\n';
    for (CaseNumber k = 1; k <= m.CaseCount() && out; ++k) {
        out << k << ',' << ExactText(m.CaseElev(k)) << ',' << ExactText(m.CaseTemp(k));
        for (int g = 1; g <= GasCount; ++g) out << ',' << ExactText(m.GasSolubility(g, k));
        out << '\n';
    }
    if (m.CaseCount() == 0) Note(err, "the grid has no case: " + EmptyGridReason(m.Grid()));
}

void PrintFit(const Module1& m, bool all, std::ostream& out, std::ostream& err) {
    const BestFitNoEa& fit = m.NoEa();
    const SolubilityGrid& grid = *fit.grid;
    if (all) {
        out << "case,elevation_m,temperature_C,deviation\n";
        for (CaseNumber i = 1; i <= grid.CaseCount && out; ++i)
            out << i << ',' << ExactText(grid.Elev[static_cast<std::size_t>(i - 1)]) << ','
                << ExactText(grid.Temp[static_cast<std::size_t>(i - 1)]) << ','
                << ExactText(fit.CaseRms[static_cast<std::size_t>(i - 1)]) << '\n';
        return;
    }
    out << "rank,case,temperature_C,elevation_m,deviation\n";
    if (fit.Ranked == 0) Note(err, "no case is ranked: " + NoFitReason(fit));
    for (int k = 1; k <= kRankCount; ++k) {
        const CaseNumber c = fit.BestCase[static_cast<std::size_t>(k - 1)];
        out << k << ',';
        if (fit.Ranked > 0 && ValidCase(grid, c))
            out << c << ',' << ExactText(grid.Temp[static_cast<std::size_t>(c - 1)]) << ','
                << ExactText(grid.Elev[static_cast<std::size_t>(c - 1)]) << ',';
        else
            out << ",,,";
        out << ExactText(fit.BestRms[static_cast<std::size_t>(k - 1)]) << '\n';
    }
}

void PrintFitEa(const Module1& m, std::ostream& out, std::ostream& err) {
    const BestFitEa& ea = m.Ea();
    const SolubilityGrid& grid = *ea.grid;
    out << "trial,excess_air,rank,case,elevation_m,temperature_C,deviation\n";
    const auto unranked = std::count(ea.Ranked.begin(), ea.Ranked.end(), 0);
    if (unranked > 0)
        Note(err,
             "for " + std::to_string(unranked) + " of the " + std::to_string(ea.M) +
                 " trial amounts no case has a deviation below 10000: the measured values lie far "
                 "from every calculated one; their rows carry 10000");
    for (std::int64_t t = 1; t <= ea.M && out; ++t)
        for (int k = 1; k <= kRankCount; ++k) {
            const CaseNumber c = ea.BestCaseAt(t, k);
            out << t << ',' << ExactText(ea.EaValue[static_cast<std::size_t>(t - 1)]) << ',' << k
                << ',';
            if (ValidCase(grid, c))
                out << c << ',' << ExactText(grid.Elev[static_cast<std::size_t>(c - 1)]) << ','
                    << ExactText(grid.Temp[static_cast<std::size_t>(c - 1)]) << ',';
            else
                out << ",,,";
            out << ExactText(ea.BestRmsAt(t, k)) << '\n';
        }
}

void PrintPair(const GasPairGraph& p, bool json, std::ostream& out) {
    if (!json) {
        out << "curve,title,point,temperature_C,x,y\n";
        for (int j = 1; j <= p.J; ++j)
            for (int t = 1; t <= p.nPts; ++t)
                out << j << ',' << p.CurveTitles[static_cast<std::size_t>(j - 1)] << ',' << t << ','
                    << ExactText(p.PairTempValues[static_cast<std::size_t>(t - 1)]) << ','
                    << ExactText(p.Conc(t, j, 1)) << ',' << ExactText(p.Conc(t, j, 2)) << '\n';
        return;
    }
    out << "{\n  \"title\": \"Gas Pair Graph\",\n"
        << "  \"x_axis\": " << JsonString(p.PairXTitle) << ",\n"
        << "  \"y_axis\": " << JsonString(p.PairYTitle) << ",\n"
        << "  \"PairXMin\": " << ExactText(p.PairXMin) << ",\n"
        << "  \"PairXMax\": " << ExactText(p.PairXMax) << ",\n"
        << "  \"PairYMin\": " << ExactText(p.PairYMin) << ",\n"
        << "  \"PairYMax\": " << ExactText(p.PairYMax) << ",\n"
        << "  \"Label3\": " << JsonString(p.Label3) << ",\n"
        << "  \"Label4\": " << JsonString(p.Label4) << ",\n"
        << "  \"measured\": {\"title\": \"Measured Data\", \"x\": " << ExactText(p.MeasuredX)
        << ", \"y\": " << ExactText(p.MeasuredY) << "},\n  \"curves\": [\n";
    for (int j = 1; j <= p.J; ++j) {
        out << "    {\"title\": " << JsonString(p.CurveTitles[static_cast<std::size_t>(j - 1)])
            << ", \"excess_air\": " << ExactText(p.PairEaValues[static_cast<std::size_t>(j - 1)])
            << ", \"points\": [";
        for (int t = 1; t <= p.nPts; ++t)
            out << (t > 1 ? ", " : "") << "{\"temperature_C\": "
                << ExactText(p.PairTempValues[static_cast<std::size_t>(t - 1)])
                << ", \"x\": " << ExactText(p.Conc(t, j, 1))
                << ", \"y\": " << ExactText(p.Conc(t, j, 2)) << "}";
        out << "]}" << (j < p.J ? "," : "") << "\n";
    }
    out << "  ]\n}\n";
}

void PrintStudy(const std::vector<study::StudyResult>& results, const study::StudyOptions& so,
                std::ostream& out) {
    const std::vector<study::ResultColumn> columns = study::ResultColumns(&so);
    for (std::size_t c = 0; c < columns.size(); ++c) out << (c ? "," : "") << columns[c].name;
    out << '\n';
    using K = study::ResultCell::Kind;
    for (const study::StudyResult& r : results) {
        if (!out) break;
        const auto row = study::ResultRow(r, so);
        for (std::size_t c = 0; c < row.size(); ++c) {
            if (c) out << ',';
            const study::ResultCell& cell = row[c];
            if (cell.kind == K::Double) out << ExactText(cell.number);
            if (cell.kind == K::Single) out << ExactText(static_cast<float>(cell.number));
            if (cell.kind == K::Text) out << CsvField(cell.text, CsvRule::kData);
        }
        out << '\n';
    }
}

} // namespace temra::cli
