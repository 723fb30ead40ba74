// temra-cli's options, drawn from the table of input fields and the table of
// models, with the texts they fill.
#include "cli/cli_parts.h"
#include "core/solubility_sets.h"

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
#include "study/output/flags.h"
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
// The help of --solubility: the table of data sets.
std::string SolubilityHelp() {
    std::string help = "The solubility data set:";
    for (const SolubilitySetInfo& set : SolubilitySets())
        help += " " + std::string(set.key) + " (" + std::string(set.name) + ")";
    return help;
}

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
    grid->add_option("--solubility", o.solubility, SolubilityHelp())->capture_default_str();
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

// The flags a result's column "flags" may hold, in words, from the table of flags.
std::string FlagsHelp() {
    std::string help = "The column \"flags\" holds, separated by ';':";
    for (const study::FlagInfo& f : study::Flags())
        help += "\n  " + study::FlagName(f) + "  " + study::FlagMeaningInGeneral(f);
    return help;
}

void AddStudySubcommand(CLI::App& app, Options& o) {
    auto* study = app.add_subcommand(
        "study", "Fit every sample of a table over the grid, each misfit weighted by the "
                 "measurement errors: chi2, p, the best case and the 1-sigma ranges (CSV). Exit "
                 "status 1 when some samples were refused");
    study->fallthrough();
    study
        ->add_option("file", o.studyFile,
                     "The table of samples (CSV: comma, semicolon or tab; a workbook, .xlsx; - "
                     "for standard input)")
        ->required();
    study->add_option("--sheet", o.sheet,
                      "The workbook's sheet that holds the table (by default its first, or the "
                      "samples of a \"Study Results\" workbook)");
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
    study
        ->add_option("--solubility", o.solubility,
                     SolubilityHelp() +
                         "; all: every data set, each sample's rows one per data set, with the "
                         "shift of T, elevation and A against builtin (dT_vs_builtin_C, "
                         "dE_vs_builtin_m, dA_vs_builtin)")
        ->capture_default_str();
    study->add_option("--xlsx", o.xlsx,
                      "Write the \"Study Results\" workbook (with its \"Settings\") to this new "
                      ".xlsx file instead");
    study->footer(FlagsHelp());
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

} // namespace temra::cli
