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
#include "cli/cli_parts.h"
#include "cli/options.h"

#include "core/csv_field.h"
#include "core/module1.h"
#include "core/numtext.h"
#include "core/parallel.h"
#include "core/solubility_sets.h"
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
    while (std::getline(in, name, ',')) {
        name.erase(0, name.find_first_not_of(" \t"));
        name.erase(name.find_last_not_of(" \t") + 1);
        const std::optional<int> g = GasOfName(name);
        if (!g)
            throw TemraError(ErrorNumber::TypeMismatch, fields::Ref(FieldId::GasSelection),
                             "unknown gas \"" + EchoText(name) + "\"; the gases are " +
                                 GasLabels());
        chosen[static_cast<std::size_t>(*g)] = true;
    }
    return chosen;
}

std::array<bool, GasCount> Deleted(const std::array<bool, GasCount>& chosen) {
    std::array<bool, GasCount> deleted{};
    for (std::size_t g = 0; g < deleted.size(); ++g) deleted[g] = !chosen[g];
    return deleted;
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
    // The study reads its data set (or every one) with its own options.
    if (!app.got_subcommand("study")) m.run.Solubility = SolubilityOf(o.solubility);
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

// --solubility: a key of the table of data sets.
SolubilitySet SolubilityOf(const std::string& key) {
    if (const auto set = SetOfKey(key)) return *set;
    std::string keys;
    for (const SolubilitySetInfo& s : SolubilitySets())
        keys += (keys.empty() ? "" : ", ") + std::string(s.key);
    if (EveryDataSet(key))
        throw OptionRefusal{"--solubility", "all compares the data sets in a study; the grid "
                                            "is computed with one: name one of " +
                                                keys};
    throw OptionRefusal{"--solubility",
                        "there is no data set \"" + EchoText(key) + "\"; name one of " + keys};
}

bool EveryDataSet(const std::string& key) {
    constexpr std::string_view kAll = "all";
    return std::equal(key.begin(), key.end(), kAll.begin(), kAll.end(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
}

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
        if (e.culprit().option == "sheet") return Refuse(err, std::string("--sheet: ") + e.what());
        return Refuse(err, std::string("study: ") + e.what());
    } catch (const OptionRefusal& e) {
        return Refuse(err, e.what());
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
    } catch (const Refusal& e) { // any other refusal: its own message names its culprit
        return Refuse(err, e.what());
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
