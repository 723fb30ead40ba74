// temra-cli: Temra's computations from the command line.
//
// The options take texts exactly like the boxes of the windows, with the same
// defaults, and go through the same conversions and errors; "--option=" is an
// empty text, refused like an empty box. Results go to standard output as CSV (or
// JSON for a gas-pair graph) with every number in the shortest form that reads
// back to the same value. Refusals go to standard error as one line,
// "temra-cli: <option>: <description>: <detail>", with exit status 2; output that
// cannot be written (a full disk) is reported the same way with exit status 1.
// A result that is empty or says less than it seems (a grid without cases, a fit
// that ranks no case) is explained by a note on standard error.
#include "cli/cli.h"
#include "cli/options.h"

#include "core/module1.h"
#include "core/numtext.h"
#include "core/parallel.h"
#include "core/version.h"
#include "export/exports.h"
#include "platform/platform.h"
#include "study/ensemble.h"
#include "study/models.h"
#include "study/monte_carlo.h"
#include "study/sample_table.h"
#include "study/study_fit.h"
#include "study/study_notes.h"
#include "study/study_results.h"

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

// Nothing but blanks: an empty text.
bool Blank(const std::string& text) {
    return text.find_first_not_of(" \t") == std::string::npos;
}

// The keys of the excess-air models, and their help: "ua: unfractionated excess
// air; ce: closed-system equilibration".
std::vector<std::string> ModelKeys() {
    std::vector<std::string> keys;
    keys.reserve(study::Models().size());
    for (const study::ModelInfo& m : study::Models()) keys.emplace_back(m.key);
    keys.emplace_back("all");
    return keys;
}

// The keys as a choice in words: "ua or ce", "ua, ce or pr".
std::string ModelChoiceWords() {
    const std::vector<std::string> keys = ModelKeys();
    std::string words;
    for (std::size_t i = 0; i < keys.size(); ++i)
        words += (i == 0 ? "" : i + 1 == keys.size() ? " or " : ", ") + keys[i];
    return words;
}

std::string ModelHelp() {
    std::string help;
    for (const study::ModelInfo& m : study::Models())
        help += (help.empty() ? "" : "; ") + std::string(m.key) + ": " + std::string(m.help);
    return help + "; all: every model, each sample's rows one per model, the one with the "
                  "highest p (with a degree of freedom) marked \"preferred\"";
}

// grid, fit, fit-ea and pair: one sample's computations, with the options drawn
// from the table of input fields that fill the boxes they read.
void AddSampleSubcommands(CLI::App& app, Options& o) {
    auto* grid = app.add_subcommand("grid", "Print the equilibrium concentration of every gas "
                                            "for every grid case (CSV)");
    auto* fit = app.add_subcommand("fit", "Print the ten grid cases that fit the selected gases "
                                          "best without excess air (CSV)");
    auto* fitEa = app.add_subcommand(
        "fit-ea", "Print the ten best grid cases for every trial amount of excess air (CSV)");
    auto* pair = app.add_subcommand("pair", "Print the gas-pair curves (CSV, or the whole graph "
                                            "as JSON)");
    for (CLI::App* sub : {grid, fit, fitEa, pair}) sub->fallthrough();

    for (const Field& f : kFields) {
        const std::string option(f.option), help(f.help);
        if (f.form1) app.add_option(option, o.form1.*f.form1, help)->capture_default_str();
        if (f.tick) app.add_flag(option, o.form1.*f.tick, help);
        if (f.dialog) fitEa->add_option(option, o.dialog.*f.dialog, help)->capture_default_str();
        if (f.dialog1) pair->add_option(option, o.dialog1.*f.dialog1, help)->capture_default_str();
    }
    app.add_option("--gases", o.gases,
                   "Gases compared (fit, fit-ea) or paired (pair: the first two in gas order), "
                   "comma-separated, case-insensitive")
        ->capture_default_str();
    app.add_option("--threads", o.threads,
                   "The most threads a computation uses (0: one per core, at most 16); the "
                   "numbers do not depend on it")
        ->capture_default_str();
    grid->add_option("--xlsx", o.xlsx,
                     "Write the \"NG Solubility\" workbook to this new .xlsx file instead");
    fit->add_flag("--all", o.all, "Print the deviation of every case instead");
    fit->add_option("--xlsx", o.xlsx,
                    "With --all: write the \"Difference Results\" workbook to this new .xlsx "
                    "file instead");
    fitEa->add_option("--xlsx", o.xlsx,
                      "Write the \"Selected Results\" workbook to this new .xlsx file instead");
    pair->add_flag("--json", o.json, "Print the whole graph as JSON");
}

// study: a table of samples fitted over the grid, with the options of the fit.
// The study's options beyond the fit: the lapse-rate prior and Monte Carlo.
void AddPriorAndMonteCarlo(CLI::App* study, Options& o) {
    study->add_flag("--prior-maat", o.priorMaat,
                    "Weigh each grid case by a normal prior on its temperature around the MAAT "
                    "line's (H = aT + b, --maat-a, --maat-b) at its elevation, and give the "
                    "posterior medians and 68 % intervals of T, elevation and A");
    study
        ->add_option("--prior-offset", o.priorOffset,
                     "Added to the line's temperature (°C): from air to soil or water table")
        ->capture_default_str();
    study->add_option("--prior-sd", o.priorSd, "The prior's spread (°C); 0: on the line")
        ->capture_default_str();
    study
        ->add_option("--mc", o.mc,
                     "Monte Carlo: fit this many draws of each sample's measurements from normal "
                     "distributions with their errors, and give each parameter's mean, SD and "
                     "16th, 50th and 84th percentiles over them (0: none)")
        ->capture_default_str();
    study
        ->add_option("--mc-seed", o.mcSeed,
                     "The seed of the draws: the same seed gives the same numbers")
        ->capture_default_str();
    study->add_option("--mc-draws", o.mcDraws,
                      "Write every draw's fit to this new CSV file (with --mc)");
}

// The options of the table of models: the bounds (an option the rows share, as
// every model's largest A, added once, with its former name) and the exponents.
void AddModelOptions(CLI::App* study, Options& o) {
    auto rowsOf = [](std::string_view option) {
        std::size_t rows = 0;
        for (const study::ModelInfo& other : study::Models())
            for (const study::ModelParam& q : other.params) rows += q.option == option;
        return rows;
    };
    for (const study::ModelInfo& m : study::Models())
        for (const study::ModelParam& p : m.params) {
            if (p.option.empty() || o.upper.count(std::string(p.option)) > 0) continue;
            std::string& text = o.upper[std::string(p.option)];
            text = ExactText(p.upper);
            const std::string of = rowsOf(p.option) > 1
                                       ? "every model"
                                       : std::string(m.key) + " (" + std::string(m.help) + ")";
            study
                ->add_option("--" + std::string(p.option), text,
                             "The largest " + std::string(p.symbol) + " of " + of +
                                 (p.unit.empty() ? "" : " (" + std::string(p.unit) + " H2O)"))
                ->capture_default_str();
            if (p.formerOption.empty()) continue;
            study
                ->add_option("--" + std::string(p.formerOption),
                             o.upper[std::string(p.formerOption)],
                             "The former name of --" + std::string(p.option) + ", still read")
                ->each([&o, option = std::string(p.option), former = std::string(p.formerOption)](
                           const std::string&) { o.spokenAs[option] = former; });
        }
    for (const study::ModelInfo& m : study::Models()) {
        const study::ModelConstant& c = m.exponent;
        if (c.option.empty()) continue;
        std::string& text = o.constants[std::string(c.option)];
        text = ExactText(c.value);
        study
            ->add_option("--" + std::string(c.option), text,
                         "The exponent " + std::string(c.symbol) + " of the diffusivity ratio in " +
                             std::string(m.key) + " (" + ExactText(c.lo) + " to " +
                             ExactText(c.hi) + ")")
            ->capture_default_str();
    }
}

void AddStudySubcommand(CLI::App& app, Options& o) {
    auto* study = app.add_subcommand(
        "study", "Fit every sample of a table over the grid, each misfit weighted by the "
                 "measurement errors: chi2, p, the best case and the 1-sigma ranges (CSV). Exit "
                 "status 1 when some samples were refused");
    study->fallthrough();
    study
        ->add_option("file", o.studyFile,
                     "The table of samples (CSV: comma, semicolon or tab; - for standard input)")
        ->required();
    study->add_option("--model", o.model, ModelHelp())
        ->transform(CLI::IsMember(ModelKeys(), CLI::ignore_case))
        // Runs before the choice (a later transform runs first): an empty text is
        // said to be one.
        ->transform(CLI::Validator(
            [](std::string& text) {
                return Blank(text) ? "the model is empty; give " + ModelChoiceWords()
                                   : std::string();
            },
            ""))
        ->capture_default_str();
    study
        ->add_option("--rel-err", o.relErr,
                     "The 1-sigma error, relative to the measured value, where a sample has no "
                     "<gas> err column")
        ->capture_default_str();
    AddModelOptions(study, o);
    study->add_flag("--per-gram", o.perGram,
                    "The table's concentrations and errors are per gram of water (cm³ STP/g "
                    "H2O): each is multiplied by the sample's density before the fit (without "
                    "it they are per cm³ of water, cm³ STP/cm³ H2O, as on the input page)");
    AddPriorAndMonteCarlo(study, o);
    study->add_option(
        "--ensemble", o.ensemble,
        "Fit the samples of each group (the table's column \"group\") together, sharing these "
        "parameters: T,E (the recharge temperature and elevation; each sample keeps its own "
        "excess air). Adds the group's chi2, degrees of freedom and p to each member's row");
    study->add_option("--xlsx", o.xlsx,
                      "Write the \"Study Results\" workbook (with its \"Settings\") to this new "
                      ".xlsx file instead");
}

} // namespace

// The options, drawn from the table of input fields, with the texts they fill.
std::unique_ptr<CLI::App> MakeApp(Options& o) {
    auto app = std::make_unique<CLI::App>(
        "temra-cli: air-equilibrium concentrations of dissolved atmospheric gases over a grid of "
        "recharge elevations and temperatures, best fits with and without excess air, and "
        "gas-pair curves.\nEvery value option takes a text as typed on the input page; '.' is "
        "the decimal point.");
    app->name("temra-cli");
    app->set_version_flag("--version", "temra-cli " + std::string(kVersion),
                          "Print the version of temra-cli and exit");
    app->require_subcommand(1);
    AddSampleSubcommands(*app, o);
    AddStudySubcommand(*app, o);
    return app;
}

namespace {

// The option that feeds a window's box.
std::string OptionFor(const FieldRef& f) {
    if (f.id != kNoField && !FieldOf(f.id).option.empty()) return std::string(FieldOf(f.id).option);
    return f.label.empty() ? f.control : f.label;
}

// --gases: names as on the tick boxes, case-insensitive, in any order.
std::array<bool, GasCount> ParseGases(const std::string& list) {
    std::array<bool, GasCount> chosen{};
    std::stringstream in(list);
    std::string name;
    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return s;
    };
    while (std::getline(in, name, ',')) {
        name.erase(0, name.find_first_not_of(" \t"));
        name.erase(name.find_last_not_of(" \t") + 1);
        bool found = false;
        for (int g = 0; g < GasCount; ++g)
            if (lower(name) == lower(std::string(kGases[static_cast<std::size_t>(g)].graphLabel))) {
                chosen[static_cast<std::size_t>(g)] = true;
                found = true;
            }
        if (!found)
            throw TemraError(ErrorNumber::TypeMismatch, fields::Ref(FieldId::GasSelection),
                             "unknown gas \"" + EchoText(name) +
                                 "\"; the gases are He-4, Ne-20, Ar-40, Kr-84, Xe, N2, O2");
    }
    return chosen;
}

std::array<bool, GasCount> Deleted(const std::array<bool, GasCount>& chosen) {
    std::array<bool, GasCount> deleted{};
    for (std::size_t g = 0; g < deleted.size(); ++g) deleted[g] = !chosen[g];
    return deleted;
}

// `value` in `digits` lower-case hexadecimal digits.
std::string HexDigits(unsigned value, int digits) {
    static const char* const kHex = "0123456789abcdef";
    std::string out;
    for (int d = digits - 1; d >= 0; --d) out += kHex[(value >> (4 * d)) & 15];
    return out;
}

// The length of the UTF-8 sequence that begins at text[i]; 0 where the bytes are
// not UTF-8: a byte that begins no sequence, a sequence cut short or broken, an
// overlong form, a surrogate or a value above U+10FFFF.
std::size_t Utf8Length(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t length = c >= 0xC2 && c <= 0xDF   ? 2
                               : c >= 0xE0 && c <= 0xEF ? 3
                               : c >= 0xF0 && c <= 0xF4 ? 4
                                                        : 0;
    if (length == 0 || i + length > text.size()) return 0;
    for (std::size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
    if (length >= 3) {
        const auto second = static_cast<unsigned char>(text[i + 1]);
        if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second > 0x9F) ||
            (c == 0xF0 && second < 0x90) || (c == 0xF4 && second > 0x8F))
            return 0;
    }
    return length;
}

// A byte below 0x80 as shown: tab, line feed and carriage return as "\t", "\n",
// "\r", the other controls (C0 and DEL) as "\xHH", any other as itself.
void AppendVisibleAscii(std::string& out, unsigned char c) {
    if (c == '\t' || c == '\n' || c == '\r')
        out += c == '\t' ? "\\t" : c == '\n' ? "\\n" : "\\r";
    else if (c < 0x20 || c == 0x7F)
        out += "\\x" + HexDigits(c, 2);
    else
        out += static_cast<char>(c);
}

// The character that begins at text[i] as shown; returns the bytes it took. A
// UTF-8 sequence is kept, but for the C1 controls (U+0080 to U+009F, bytes C2 80
// to C2 9F); any other byte is shown as its value.
std::size_t AppendVisibleChar(std::string& out, std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
        AppendVisibleAscii(out, c);
        return 1;
    }
    const std::size_t length = Utf8Length(text, i);
    if (length == 0) {
        out += "\\x" + HexDigits(c, 2);
        return 1;
    }
    if (c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
        out += "\\u00" + HexDigits(static_cast<unsigned char>(text[i + 1]), 2);
        return 2;
    }
    out.append(text.substr(i, length));
    return length;
}

// A text as a terminal shows it, every character visible: control characters
// (C0, DEL, C1) as escapes ("\t", "\n", "\x00", "\u009b") and bytes that are not
// UTF-8 as "\xHH". A message quotes what the table and the arguments hold, which
// may be anything.
std::string Visible(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) i += AppendVisibleChar(out, text, i);
    return out;
}

// A line to standard error, every character of it visible.
void Say(std::ostream& err, const std::string& text) {
    err << "temra-cli: " << Visible(text) << '\n';
}

void Note(std::ostream& err, const std::string& text) {
    Say(err, "note: " + text);
}

bool ValidCase(const SolubilityGrid& grid, CaseNumber c) {
    return c >= 1 && c <= grid.CaseCount;
}

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

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
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

// A CSV field, quoted when it holds a delimiter, a quote, a line break or any
// other control character: the CSV is data, so its text is kept as it is, and
// the quotes keep it one field.
std::string CsvField(const std::string& text) {
    const bool plain = std::none_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return c == ',' || c == '"' || u < 0x20 || u == 0x7F;
    });
    if (plain) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
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
            if (cell.kind == K::Text) out << CsvField(cell.text);
        }
        out << '\n';
    }
}

double OptionNumber(const std::string& text, const char* option) {
    return ParseDouble(text, FieldRef{"", "", option}, '.');
}

// A refusal of an option that is no box of a window: the option and what is wrong.
struct OptionRefusal {
    std::string option;
    std::string detail;
};

// An option the chosen subcommand reads is refused when it was given empty ("--xlsx=",
// "--gases ''"); options it does not read may stay empty, as boxes of the input page
// the computation does not read. The boxes of the windows are refused where they are
// read, as on the windows.
void RefuseEmptyOptions(const Options& o, const CLI::App& app) {
    const CLI::App* sub = app.get_subcommands().front();
    const std::string name = sub->get_name();
    if (const CLI::Option* xlsx = sub->get_option_no_throw("--xlsx");
        xlsx && xlsx->count() > 0 && Blank(o.xlsx))
        throw OptionRefusal{"--xlsx", "the file name is empty; name the new .xlsx file to write"};
    if (name != "grid" && app.get_option("--gases")->count() > 0 && Blank(o.gases))
        throw OptionRefusal{"--gases", name == "pair" ? "the list of gases is empty; name two"
                                                      : "the list of gases is empty; name at "
                                                        "least one"};
    if (name != "study") return;
    if (Blank(o.studyFile))
        throw OptionRefusal{"study", "the file name of the table is empty; name the table of "
                                     "samples, or - for standard input"};
}

// The option of a study setting at fault; the table is named by its file.
std::string StudyOption(study::StudySetting setting, const Options& o,
                        const std::string& option = {}) {
    switch (setting) {
    case study::StudySetting::Upper:
    case study::StudySetting::Constant:
        // An option given by its former name is named so.
        if (const auto used = o.spokenAs.find(option); used != o.spokenAs.end())
            return "--" + used->second;
        return "--" + option;
    case study::StudySetting::MonteCarlo:
        return "--mc";
    case study::StudySetting::Gases:
        return "--gases";
    case study::StudySetting::RelErr:
        return "--rel-err";
    case study::StudySetting::Ensemble:
        return "--ensemble";
    case study::StudySetting::Table:
        break;
    }
    return o.studyFile == "-" ? "standard input" : o.studyFile;
}

// A draw's row of the file of draws: a draw that could not be fitted has its
// reason in the flags' field.
std::string DrawRow(const study::McDraw& d, const std::vector<study::Sample>& samples) {
    const study::StudyResult& r = d.result;
    std::string row = CsvField(samples[d.sample].name) + "," + std::to_string(d.draw + 1) + ",";
    if (!r.error.empty()) return row + ",,,,," + CsvField("error: " + r.error);
    row += ExactText(r.chi2) + "," + ExactText(r.temperature) + "," + ExactText(r.elevation) + "," +
           ExactText(r.A) + "," + (r.second ? ExactText(r.second->value) : std::string()) + ",";
    std::string flags;
    for (const std::string& f : r.flags) flags += (flags.empty() ? "" : ";") + f;
    return row + flags;
}

// --mc-draws, before any work: a name, not the workbook's, of no file yet (a link
// that leads nowhere holds the name too); without --mc no draws are made.
void CheckDrawsFile(const Options& o, const CLI::App& sub, const study::StudyOptions& so,
                    std::ostream& err) {
    namespace fs = std::filesystem;
    if (sub.get_option("--mc-draws")->count() == 0) return;
    if (Blank(o.mcDraws))
        throw OptionRefusal{"--mc-draws", "the file name is empty; name the new CSV file of draws"};
    if (so.mcDraws <= 0) {
        Note(err, "--mc-draws: no draws are made without --mc, so \"" + EchoText(o.mcDraws) +
                      "\" is not written");
        return;
    }
    std::error_code ec;
    if (!o.xlsx.empty() && fs::weakly_canonical(o.xlsx, ec) == fs::weakly_canonical(o.mcDraws, ec))
        throw OptionRefusal{"--mc-draws", "--mc-draws and --xlsx name the same file \"" +
                                              EchoText(o.mcDraws) + "\"; name two files"};
    if (fs::exists(fs::symlink_status(o.mcDraws, ec)))
        throw OptionRefusal{"--mc-draws",
                            "the file \"" + EchoText(o.mcDraws) + "\" exists; name a new file"};
}

// Monte Carlo of the study's samples; with --mc-draws every draw's fit goes to a
// new file, written under a private temporary name beside it and given its name
// only when complete, never replacing a file. Returns why the file of draws
// could not be written (empty when it was, or none was asked for): the results
// stand without it.
std::string RunMonteCarlo(const Options& o, const study::StudyOptions& so,
                          const std::vector<study::Sample>& samples, const RunSettings& run,
                          std::vector<study::StudyResult>& results) {
    namespace fs = std::filesystem;
    if (o.mcDraws.empty()) {
        study::MonteCarlo(samples, so, run, results);
        return {};
    }
    const fs::path path(o.mcDraws);
    const fs::path part = xl::TemporaryBeside(path);
    const platform::TemporaryFile guard(part);
    std::ofstream file(part);
    const std::string name = "\"" + EchoText(o.mcDraws) + "\"";
    if (!file) {
        study::MonteCarlo(samples, so, run, results);
        return "the file " + name + " cannot be made: " + std::strerror(errno);
    }
    const study::ModelInfo& model = study::InfoOf(so.model);
    file << "sample,draw,chi2,temperature_C,elevation_m,excess_air,"
         << (model.HasSecond() ? std::string(model.params[1].column) : std::string("second"))
         << ",flags\n";
    std::error_code ec;
    try {
        study::MonteCarlo(samples, so, run, results, Unwatched(),
                          [&](const study::McDraw& d) { file << DrawRow(d, samples) << '\n'; });
    } catch (...) {
        fs::remove(part, ec);
        throw;
    }
    file.close();
    if (!file) {
        fs::remove(part, ec);
        return "the file " + name + " could not be written; the disk may be full";
    }
    try {
        if (!xl::ClaimName(part, path))
            return "the file " + name + " was made meanwhile; not replaced";
    } catch (const std::system_error& e) {
        return "the file " + name + " could not be named: " + e.code().message();
    }
    return {};
}

// --mc-seed: a whole number of 64 bits, read as written (a double would merge
// seeds above 2^53).
std::uint64_t SeedOf(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    const auto last = text.find_last_not_of(" \t");
    std::uint64_t seed = 0;
    const char* begin = first == std::string::npos ? text.data() : text.data() + first;
    const char* end = first == std::string::npos ? begin : text.data() + last + 1;
    const auto [ptr, ec] = std::from_chars(begin, end, seed);
    if (ec != std::errc() || ptr != end || begin == end)
        throw OptionRefusal{"--mc-seed", "the seed (" + EchoText(text) +
                                             ") must be a whole number from 0 to " +
                                             std::to_string(UINT64_MAX)};
    return seed;
}

// The bounds and exponents of the models fitted (all of them with --model all);
// an option given by its former name is read so, and both at once are refused.
void ReadModelOptions(const Options& o, const CLI::App& sub, study::StudyOptions& so) {
    for (const study::ModelInfo& model : study::Models()) {
        if (!so.allModels && model.model != so.model) continue;
        for (const study::ModelParam& p : model.params) {
            if (p.option.empty()) continue;
            const std::string key(p.option), former(p.formerOption);
            std::string option = key;
            if (!former.empty() && sub.get_option("--" + former)->count() > 0) {
                if (sub.get_option("--" + key)->count() > 0) {
                    std::string why = "--" + key;
                    why += " and --";
                    why += former;
                    why += " are the same option; give one";
                    throw OptionRefusal{"--" + key, why};
                }
                option = former;
            }
            so.upper[key] = OptionNumber(o.upper.at(option), ("--" + option).c_str());
        }
        if (const study::ModelConstant& c = model.exponent; !c.option.empty()) {
            const std::string option(c.option);
            so.constants[option] = OptionNumber(o.constants.at(option), ("--" + option).c_str());
        }
    }
}

// The study: 0 when every sample was fitted, 1 when some were refused.
// The study's options from the command line; the bounds of the models fitted only
// are read.
study::StudyOptions StudyOptionsOf(const Options& o, const CLI::App& app,
                                   const std::array<bool, GasCount>& chosen) {
    study::StudyOptions so;
    so.grid = o.form1;
    // The option admits the table's keys and "all" only.
    so.allModels = study::ModelOfKey(o.model) == nullptr;
    if (!so.allModels) so.model = study::ModelOfKey(o.model)->model;
    if (app.get_option("--gases")->count() > 0) so.gases = chosen;
    so.relErr = OptionNumber(o.relErr, "--rel-err");
    so.perGram = o.perGram;
    so.prior = o.priorMaat;
    so.priorOffset = OptionNumber(o.priorOffset, "--prior-offset");
    so.priorSd = OptionNumber(o.priorSd, "--prior-sd");
    if (!(so.priorSd >= 0) || !std::isfinite(so.priorSd))
        throw OptionRefusal{"--prior-sd",
                            "the spread (" + EchoText(o.priorSd) + ") must be 0 or more"};
    const double mc = OptionNumber(o.mc, "--mc");
    if (!(mc >= 0 && mc <= 1e9 && mc == std::floor(mc)))
        throw OptionRefusal{"--mc",
                            "the draws (" + EchoText(o.mc) + ") must be a whole number from 0"};
    so.mcDraws = static_cast<int>(mc);
    so.mcSeed = SeedOf(o.mcSeed);
    if (app.get_subcommand("study")->get_option("--ensemble")->count() > 0)
        so.shared = study::ParseShared(o.ensemble, so);
    ReadModelOptions(o, *app.get_subcommand("study"), so);
    return so;
}

int RunStudy(const Options& o, const CLI::App& app, const std::array<bool, GasCount>& chosen,
             Module1& m, std::ostream& out, std::ostream& err) {
    const study::StudyOptions so = StudyOptionsOf(o, app, chosen);
    const study::SampleTable table = study::ReadSampleTable(o.studyFile, m.run.MemoryAvailable());
    const study::SampleColumns columns = study::ReadSamples(table, so);
    CheckDrawsFile(o, *app.get_subcommand("study"), so, err);
    auto results = study::FitStudy(columns.samples, so, m.run);
    std::string drawsFault;
    if (so.mcDraws > 0) drawsFault = RunMonteCarlo(o, so, columns.samples, m.run, results);
    if (!columns.ignored.empty()) {
        std::string names;
        for (const std::string& n : columns.ignored)
            names += (names.empty() ? "" : ", ") + ("\"" + EchoText(n) + "\"");
        Note(err, "columns not read: " + names);
    }
    // Said once for the table: which columns of total gas were read as isotopes.
    if (const std::string c = study::ConversionSummary(columns.notes); !c.empty()) Note(err, c);
    if (columns.samples.empty()) Note(err, "the table has a header but no samples");
    int status = 0;
    for (const study::StudyResult& r : results)
        if (!r.error.empty()) {
            Say(err, "error: " + r.error);
            status = 1;
        }
    const auto optionOf = [](FieldId id) {
        // The option with its help, without the unit: "--temp-max (Highest
        // equilibrium temperature)".
        const Field& f = FieldOf(id);
        std::string help(f.help);
        if (const auto unit = help.rfind(" ("); unit != std::string::npos) help.erase(unit);
        return std::string(f.option) + " (" + help + ")";
    };
    for (const std::string& note : study::StudyNotes(results, so, '.', optionOf)) Note(err, note);
    if (!drawsFault.empty()) {
        Say(err, "error: --mc-draws: " + drawsFault);
        status = 1;
    }
    if (o.xlsx.empty()) {
        PrintStudy(results, so, out);
        return status;
    }
    xl::Settings settings = xl::WrittenBy();
    settings.emplace_back("Samples", o.studyFile == "-" ? "standard input" : o.studyFile);
    for (auto& s : study::ColumnSettings(columns.notes)) settings.push_back(std::move(s));
    for (auto& s : study::StudySettings(so)) settings.push_back(std::move(s));
    xl::Application excel;
    excel.MemoryBudget = m.run.MemoryAvailable();
    xl::SaveAs(xl::WriteStudyResults(results, so, settings, columns.samples, m.run.DecimalSeparator,
                                     excel),
               o.xlsx);
    return status;
}

// "--option=" with nothing after the '=' is an empty text for an option that
// takes one: it becomes "--option" "" rather than taking the next argument.
std::vector<std::string> Arguments(const std::vector<std::string>& given, const CLI::App& app) {
    auto takesValue = [&app](const std::string& name) {
        std::vector<const CLI::App*> apps{&app};
        for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
            apps.push_back(sub);
        for (const CLI::App* a : apps)
            if (const CLI::Option* opt = a->get_option_no_throw(name))
                return opt->get_expected_min() > 0;
        return false;
    };
    std::vector<std::string> args;
    for (const std::string& arg : given) {
        if (arg.size() > 3 && arg.rfind("--", 0) == 0 && arg.back() == '=' &&
            takesValue(arg.substr(0, arg.size() - 1))) {
            args.push_back(arg.substr(0, arg.size() - 1));
            args.emplace_back();
        } else {
            args.push_back(arg);
        }
    }
    std::reverse(args.begin(), args.end()); // CLI11 takes them last first
    return args;
}

int Refuse(std::ostream& err, const std::string& message) {
    Say(err, message);
    return 2;
}

// The computations of the chosen subcommand, printed or saved; the exit status.
int Compute(const Options& o, const CLI::App& app, Module1& m, std::ostream& out,
            std::ostream& err) {
    RefuseEmptyOptions(o, app);
    const double threads = OptionNumber(o.threads, "--threads");
    if (!(threads >= 0 && threads <= 16 && threads == std::floor(threads)))
        throw OptionRefusal{"--threads", "the threads (" + EchoText(o.threads) +
                                             ") must be a whole number from 0 (one per core) "
                                             "to 16"};
    threadLimit = static_cast<unsigned>(threads);
    const bool grid = app.got_subcommand("grid");
    // The grid compares no gases: --gases is not read for it.
    const auto chosen = grid ? std::array<bool, GasCount>{} : ParseGases(o.gases);
    if (app.got_subcommand("study")) return RunStudy(o, app, chosen, m, out, err);
    if (app.got_subcommand("pair")) {
        Form2Ticks ticks;
        ticks.Check = chosen;
        m.DrawGasPairGraph(o.form1, ticks, o.dialog1);
        PrintPair(m.GasPair(), o.json, out);
        return 0;
    }
    m.CalculateSolubility(o.form1);
    xl::Application excel;
    excel.MemoryBudget = m.run.MemoryAvailable();
    if (grid) {
        if (o.xlsx.empty())
            PrintGrid(m, out, err);
        else
            xl::SaveAs(xl::WriteSolubilityToExcel(m, excel), o.xlsx);
        return 0;
    }
    m.BuildSelectedGasTables(Deleted(chosen));
    if (app.got_subcommand("fit")) {
        m.FindBestFitNoEa();
        if (o.xlsx.empty())
            PrintFit(m, o.all, out, err);
        else
            xl::SaveAs(xl::WriteBestFitToExcel(m.NoEa(), excel), o.xlsx);
    } else if (app.got_subcommand("fit-ea")) {
        m.RunExcessAirSearch(o.dialog);
        if (o.xlsx.empty())
            PrintFitEa(m, out, err);
        else
            xl::SaveAs(xl::WriteSelectedResults(m.Ea(), excel), o.xlsx);
    }
    return 0;
}

} // namespace

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const Environment& environment) {
    Options o;
    const auto app = MakeApp(o);
    try {
        app->parse(Arguments(args, *app));
    } catch (const CLI::Success& e) { // --help, --version
        return app->exit(e, out, err);
    } catch (const CLI::ParseError& e) {
        return Refuse(err, std::string(e.what()) + " (see temra-cli --help)");
    }
    Module1 m;
    if (environment.memoryProbe) {
        m.run.MemoryBudget = std::numeric_limits<std::uint64_t>::max();
        m.run.MemoryProbe = environment.memoryProbe;
    }
    int status = 0;
    try {
        status = Compute(o, *app, m, out, err);
    } catch (const study::TableError& e) {
        return Refuse(err, std::string("study: ") + e.what());
    } catch (const OptionRefusal& e) {
        return Refuse(err, e.option + ": " + e.detail);
    } catch (const study::StudyError& e) {
        return Refuse(err, StudyOption(e.setting(), o, e.option()) + ": " + e.what());
    } catch (const xl::ExportError& e) {
        // A workbook refused while it is built is named by the file asked for.
        Say(err, std::string("--xlsx: ") +
                     xl::ExportError(o.xlsx.empty() ? e.file() : std::filesystem::path(o.xlsx),
                                     e.reason())
                         .what());
        return 1;
    } catch (const xl::SpreadsheetError& e) {
        Say(err, std::string("--xlsx: ") + e.what());
        return 1;
    } catch (const TemraError& e) {
        std::string message = OptionFor(e.field()) + ": " + e.description();
        if (!e.detail().empty()) message += ": " + e.detail();
        return Refuse(err, message + " (run-time error " + std::to_string(e.code()) + ")");
    } catch (const std::bad_alloc&) {
        if (app->got_subcommand("study"))
            return Refuse(err, StudyOption(study::StudySetting::Table, o) +
                                   ": Out of memory: the study of this table needs more memory "
                                   "than this process may use; fit its samples in smaller "
                                   "tables (run-time error 7)");
        return Refuse(err, "Out of memory: the computation needs more memory than this process "
                           "may use; use larger steps or narrower ranges (run-time error 7)");
    }
    // Everything printed has reached its file: a full disk or a closed output is
    // an error, not a short result.
    out.flush();
    if (!out) {
        err << "temra-cli: standard output: the results could not be written ("
            << (errno ? std::strerror(errno) : "write error") << ")\n";
        return 1;
    }
    return status;
}

} // namespace temra::cli
