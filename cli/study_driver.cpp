// The study from the command line: its options read and checked, the fit, Monte
// Carlo and its file of draws, the results printed and the workbook written.
#include "cli/cli_parts.h"

#include "cli/cli.h"
#include "cli/options.h"
#include "core/csv_field.h"
#include "core/module1.h"
#include "core/numtext.h"
#include "core/parallel.h"
#include "core/version.h"
#include "export/exports.h"
#include "export/workbook_table.h"
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
#include <chrono>
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

// An option the chosen subcommand reads is refused when it was given empty ("--xlsx=",
// "--gases ''"); options it does not read may stay empty, as boxes of the input page
// the computation does not read. The boxes of the windows are refused where they are
// read, as on the windows.
// The option of a study setting at fault; the table is named by its file.
// A draw's row of the file of draws: a draw that could not be fitted has its
// reason in the flags' field.
std::string DrawRow(const study::McDraw& d, const std::vector<study::Sample>& samples) {
    const study::StudyResult& r = d.result;
    std::string row =
        CsvField(samples[d.sample].name, CsvRule::kData) + "," + std::to_string(d.draw + 1) + ",";
    if (!r.error.empty()) return row + ",,,,," + CsvField("error: " + r.error, CsvRule::kData);
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
    so.allSolubility = EveryDataSet(o.solubility);
    if (!so.allSolubility) so.solubility = SolubilityOf(o.solubility);
    so.perGram = o.perGram;
    so.prior = o.priorMaat;
    so.priorOffset = OptionNumber(o.priorOffset, "--prior-offset");
    so.priorSd = OptionNumber(o.priorSd, "--prior-sd");
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

} // namespace

double OptionNumber(const std::string& text, const char* option) {
    return ParseDouble(text, FieldRef{"", "", option}, '.');
}

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
    if (sub->get_option("--sheet")->count() > 0 && Blank(o.sheet))
        throw OptionRefusal{"--sheet", "the sheet's name is empty; name the workbook's sheet, or "
                                       "leave out --sheet for its first"};
    if (Blank(o.studyFile))
        throw OptionRefusal{"study", "the file name of the table is empty; name the table of "
                                     "samples, or - for standard input"};
}

std::string StudyOption(study::StudySetting setting, const Options& o, const std::string& option) {
    switch (setting) {
    case study::StudySetting::Upper:
    case study::StudySetting::Constant:
    case study::StudySetting::Prior:
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

int RunStudy(const Options& o, const CLI::App& app, const std::array<bool, GasCount>& chosen,
             Module1& m, std::ostream& out, std::ostream& err) {
    const study::StudyOptions so = StudyOptionsOf(o, app, chosen);
    const xl::TableFile file = xl::ReadTableFile(o.studyFile, o.sheet, m.run.MemoryAvailable());
    if (!file.note.empty()) Note(err, file.note);
    const study::SampleColumns columns = study::ReadSamples(file.table, so);
    CheckDrawsFile(o, *app.get_subcommand("study"), so, err);
    const auto start = std::chrono::steady_clock::now();
    auto results = study::FitStudy(columns.samples, so, m.run);
    std::string drawsFault;
    if (so.mcDraws > 0) drawsFault = RunMonteCarlo(o, so, columns.samples, m.run, results);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
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
    // The time, for the samples fitted.
    const std::size_t fitted = columns.samples.size() - study::RefusedSamples(results, so);
    if (fitted > 0) Note(err, study::TimeNote(fitted, so.mcDraws, took.count(), '.'));
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
    settings.emplace_back(study::kRefitSetting, study::OptionsLine(so));
    xl::Application excel;
    excel.MemoryBudget = m.run.MemoryAvailable();
    xl::SaveAs(xl::WriteStudyResults(results, so, settings, columns.samples, m.run.DecimalSeparator,
                                     excel),
               o.xlsx);
    return status;
}

} // namespace temra::cli
