// temra-cli: the calculator's computations from the command line.
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
#include "core/module1.h"
#include "core/numtext.h"
#include "export/exports.h"
#include "platform/platform.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <limits>
#include <map>
#include <new>
#include <sstream>
#include <string>
#include <vector>

using namespace temra;

namespace {

struct Options {
    Form1Texts form1;
    std::string gases = "He-4,Ne-20,Ar-40,Kr-84,Xe,N2,O2";
    DialogTexts dialog;
    Dialog1Texts dialog1;
    bool all = false;
    bool json = false;
    std::string xlsx; // write the window's workbook here instead of printing CSV
};

// The option that feeds a window's box.
std::string OptionFor(const FieldRef& f) {
    static const std::map<std::string, std::string> options = {
        {"Form1.Text1", "--he"},
        {"Form1.Text2", "--ne"},
        {"Form1.Text3", "--ar"},
        {"Form1.Text4", "--kr"},
        {"Form1.Text5", "--xe"},
        {"Form1.Text6", "--n2"},
        {"Form1.Text7", "--o2"},
        {"Form1.Text14", "--density"},
        {"Form1.Text15", "--chloride"},
        {"Form1.Text18", "--elev-min"},
        {"Form1.Text19", "--elev-max"},
        {"Form1.Text25", "--elev-step"},
        {"Form1.Text21", "--temp-max"},
        {"Form1.Text26", "--temp-step"},
        {"Form1.Text20", "--maat-a"},
        {"Form1.Text22", "--maat-b"},
        {"Dialog.Text17", "--ea-min"},
        {"Dialog.Text23", "--ea-max"},
        {"Dialog.Text24", "--ea-step"},
        {"Dialog1.Text1", "--pair-ea-min"},
        {"Dialog1.Text2", "--pair-ea-max"},
        {"Dialog1.Text3", "--pair-ea-step"},
        {"Dialog1.Text4", "--pair-temp-min"},
        {"Dialog1.Text5", "--pair-temp-max"},
        {"Dialog1.Text6", "--pair-temp-step"},
    };
    if (f.window == "Form2" || f.window == "SolGraphForm") return "--gases";
    auto it = options.find(f.window + "." + f.control);
    if (it != options.end()) return it->second;
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
            if (lower(name) == lower(std::string(kGraphLabels[static_cast<std::size_t>(g)]))) {
                chosen[static_cast<std::size_t>(g)] = true;
                found = true;
            }
        if (!found)
            throw TemraError(ErrorNumber::TypeMismatch, fields::SolGraphSelection(),
                             "unknown gas \"" + name +
                                 "\"; the gases are He-4, Ne-20, Ar-40, Kr-84, Xe, N2, O2");
    }
    return chosen;
}

std::array<bool, GasCount> Deleted(const std::array<bool, GasCount>& chosen) {
    std::array<bool, GasCount> deleted{};
    for (std::size_t g = 0; g < deleted.size(); ++g) deleted[g] = !chosen[g];
    return deleted;
}

void Note(const std::string& text) {
    std::cerr << "temra-cli: note: " << text << '\n';
}

bool ValidCase(const SolubilityGrid& grid, CaseNumber c) {
    return c >= 1 && c <= grid.CaseCount;
}

void PrintGrid(const Module1& m) {
    std::cout << "case,elevation_m,temperature_C";
    for (auto label : kGraphLabels) std::cout << ',' << label;
    std::cout << '\n';
    for (CaseNumber k = 1; k <= m.CaseCount() && std::cout; ++k) {
        std::cout << k << ',' << ExactText(m.CaseElev(k)) << ',' << ExactText(m.CaseTemp(k));
        for (int g = 1; g <= GasCount; ++g) std::cout << ',' << ExactText(m.GasSolubility(g, k));
        std::cout << '\n';
    }
    if (m.CaseCount() == 0) Note("the grid has no case: " + EmptyGridReason(m.Grid()));
}

void PrintFit(const Module1& m, bool all) {
    const BestFitNoEa& fit = m.NoEa();
    const SolubilityGrid& grid = *fit.grid;
    if (all) {
        std::cout << "case,elevation_m,temperature_C,deviation\n";
        for (CaseNumber i = 1; i <= grid.CaseCount && std::cout; ++i)
            std::cout << i << ',' << ExactText(grid.Elev[static_cast<std::size_t>(i - 1)]) << ','
                      << ExactText(grid.Temp[static_cast<std::size_t>(i - 1)]) << ','
                      << ExactText(fit.CaseRms[static_cast<std::size_t>(i - 1)]) << '\n';
        return;
    }
    std::cout << "rank,case,temperature_C,elevation_m,deviation\n";
    if (fit.Ranked == 0) Note("no case is ranked: " + NoFitReason(fit));
    for (int k = 1; k <= kRankCount; ++k) {
        const CaseNumber c = fit.BestCase[static_cast<std::size_t>(k - 1)];
        std::cout << k << ',';
        if (fit.Ranked > 0 && ValidCase(grid, c))
            std::cout << c << ',' << ExactText(grid.Temp[static_cast<std::size_t>(c - 1)]) << ','
                      << ExactText(grid.Elev[static_cast<std::size_t>(c - 1)]) << ',';
        else
            std::cout << ",,,";
        std::cout << ExactText(fit.BestRms[static_cast<std::size_t>(k - 1)]) << '\n';
    }
}

void PrintFitEa(const Module1& m) {
    const BestFitEa& ea = m.Ea();
    const SolubilityGrid& grid = *ea.grid;
    std::cout << "trial,excess_air,rank,case,elevation_m,temperature_C,deviation\n";
    const auto unranked = std::count(ea.Ranked.begin(), ea.Ranked.end(), 0);
    if (unranked > 0)
        Note("for " + std::to_string(unranked) + " of the " + std::to_string(ea.M) +
             " trial amounts no case has a deviation below 10000: the measured values lie far "
             "from every calculated one; their rows carry 10000");
    for (std::int64_t t = 1; t <= ea.M && std::cout; ++t)
        for (int k = 1; k <= kRankCount; ++k) {
            const CaseNumber c = ea.BestCaseAt(t, k);
            std::cout << t << ',' << ExactText(ea.EaValue[static_cast<std::size_t>(t - 1)]) << ','
                      << k << ',';
            if (ValidCase(grid, c))
                std::cout << c << ',' << ExactText(grid.Elev[static_cast<std::size_t>(c - 1)])
                          << ',' << ExactText(grid.Temp[static_cast<std::size_t>(c - 1)]) << ',';
            else
                std::cout << ",,,";
            std::cout << ExactText(ea.BestRmsAt(t, k)) << '\n';
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

void PrintPair(const GasPairGraph& p, bool json) {
    if (!json) {
        std::cout << "curve,title,point,temperature_C,x,y\n";
        for (int j = 1; j <= p.J; ++j)
            for (int t = 1; t <= p.nPts; ++t)
                std::cout << j << ',' << p.CurveTitles[static_cast<std::size_t>(j - 1)] << ',' << t
                          << ',' << ExactText(p.PairTempValues[static_cast<std::size_t>(t - 1)])
                          << ',' << ExactText(p.Conc(t, j, 1)) << ',' << ExactText(p.Conc(t, j, 2))
                          << '\n';
        return;
    }
    std::cout << "{\n  \"title\": \"Gas Pair Graph\",\n"
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
        std::cout << "    {\"title\": "
                  << JsonString(p.CurveTitles[static_cast<std::size_t>(j - 1)])
                  << ", \"excess_air\": "
                  << ExactText(p.PairEaValues[static_cast<std::size_t>(j - 1)])
                  << ", \"points\": [";
        for (int t = 1; t <= p.nPts; ++t)
            std::cout << (t > 1 ? ", " : "") << "{\"temperature_C\": "
                      << ExactText(p.PairTempValues[static_cast<std::size_t>(t - 1)])
                      << ", \"x\": " << ExactText(p.Conc(t, j, 1))
                      << ", \"y\": " << ExactText(p.Conc(t, j, 2)) << "}";
        std::cout << "]}" << (j < p.J ? "," : "") << "\n";
    }
    std::cout << "  ]\n}\n";
}

// The options, with the texts they fill.
std::unique_ptr<CLI::App> MakeApp(Options& o) {
    auto app = std::make_unique<CLI::App>(
        "temra-cli: air-equilibrium concentrations of dissolved atmospheric gases over a grid of "
        "recharge elevations and temperatures, best fits with and without excess air, and "
        "gas-pair curves.\nEvery value option takes a text as typed on the input page; '.' is "
        "the decimal point.");
    app->name("temra-cli");
    app->require_subcommand(1);
    Form1Texts& f = o.form1;
    app->add_option("--elev-min", f.Text18, "Sampling elevation (m); accepted but not used")
        ->capture_default_str();
    app->add_option("--elev-max", f.Text19, "Highest equilibrium elevation (m)")
        ->capture_default_str();
    app->add_option("--elev-step", f.Text25, "Elevation step (m)")->capture_default_str();
    app->add_option("--temp-max", f.Text21, "Highest equilibrium temperature (°C)")
        ->capture_default_str();
    app->add_option("--temp-step", f.Text26, "Temperature step (°C)")->capture_default_str();
    app->add_flag(
        "--maat", f.Check1,
        "Limit each elevation to ±3 °C around the mean annual air temperature of H = aT + b");
    app->add_option("--maat-a", f.Text20, "a of H = aT + b (m/°C)")->capture_default_str();
    app->add_option("--maat-b", f.Text22, "b of H = aT + b (m)")->capture_default_str();
    app->add_option("--chloride", f.Text15, "Chloride concentration (moles/l)")
        ->capture_default_str();
    app->add_option("--density", f.Text14, "Density of water (g/cm³)")->capture_default_str();
    app->add_option("--he", f.Text1, "Measured He-4 (cm³ STP/cm³ H2O)")->capture_default_str();
    app->add_option("--ne", f.Text2, "Measured Ne-20")->capture_default_str();
    app->add_option("--ar", f.Text3, "Measured Ar-40")->capture_default_str();
    app->add_option("--kr", f.Text4, "Measured Kr-84")->capture_default_str();
    app->add_option("--xe", f.Text5, "Measured Xe (all isotopes)")->capture_default_str();
    app->add_option("--n2", f.Text6, "Measured N2 (N-28)")->capture_default_str();
    app->add_option("--o2", f.Text7, "Measured O2 (O-32)")->capture_default_str();
    app->add_option("--gases", o.gases,
                    "Gases compared (fit, fit-ea) or paired (pair: the first two in gas order), "
                    "comma-separated, case-insensitive")
        ->capture_default_str();

    auto* grid = app->add_subcommand("grid", "Print the equilibrium concentration of every gas "
                                             "for every grid case (CSV)");
    grid->fallthrough();
    grid->add_option("--xlsx", o.xlsx,
                     "Write the \"NG Solubility\" workbook to this new .xlsx file instead");
    auto* fit = app->add_subcommand("fit", "Print the ten grid cases that fit the selected gases "
                                           "best without excess air (CSV)");
    fit->fallthrough();
    fit->add_flag("--all", o.all, "Print the deviation of every case instead");
    fit->add_option("--xlsx", o.xlsx,
                    "With --all: write the \"Difference Results\" workbook to this new .xlsx "
                    "file instead");
    auto* fitEa = app->add_subcommand(
        "fit-ea", "Print the ten best grid cases for every trial amount of excess air (CSV)");
    fitEa->fallthrough();
    fitEa->add_option("--ea-min", o.dialog.Text17, "Lowest trial excess air (cm³ STP/g H2O)")
        ->capture_default_str();
    fitEa->add_option("--ea-max", o.dialog.Text23, "Highest trial excess air")
        ->capture_default_str();
    fitEa->add_option("--ea-step", o.dialog.Text24, "Step of the trial excess air")
        ->capture_default_str();
    fitEa->add_option("--xlsx", o.xlsx,
                      "Write the \"Selected Results\" workbook to this new .xlsx file instead");
    auto* pair = app->add_subcommand("pair", "Print the gas-pair curves (CSV, or the whole graph "
                                             "as JSON)");
    pair->fallthrough();
    Dialog1Texts& d1 = o.dialog1;
    pair->add_option("--pair-ea-min", d1.Text1, "Lowest excess air")->capture_default_str();
    pair->add_option("--pair-ea-max", d1.Text2, "Highest excess air")->capture_default_str();
    pair->add_option("--pair-ea-step", d1.Text3, "Excess-air step")->capture_default_str();
    pair->add_option("--pair-temp-min", d1.Text4, "Lowest temperature (°C)")->capture_default_str();
    pair->add_option("--pair-temp-max", d1.Text5, "Highest temperature (°C)")
        ->capture_default_str();
    pair->add_option("--pair-temp-step", d1.Text6, "Temperature step (°C)")->capture_default_str();
    pair->add_flag("--json", o.json, "Print the whole graph as JSON");
    return app;
}

// "--option=" with nothing after the '=' is an empty text for an option that
// takes one: it becomes "--option" "" rather than taking the next argument.
std::vector<std::string> Arguments(int argc, char** argv, const CLI::App& app) {
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
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
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

int Refuse(const std::string& message) {
    std::cerr << "temra-cli: " << message << '\n';
    return 2;
}

// The computations of the chosen subcommand, printed or saved.
void Compute(const Options& o, const CLI::App& app, Module1& m) {
    const auto chosen = ParseGases(o.gases);
    if (app.got_subcommand("pair")) {
        Form2Ticks ticks;
        ticks.Check = chosen;
        m.DrawGasPairGraph(o.form1, ticks, o.dialog1);
        PrintPair(m.GasPair(), o.json);
        return;
    }
    m.CalculateSolubility(o.form1);
    xl::Application excel;
    excel.MemoryBudget = m.MemoryAvailable();
    if (app.got_subcommand("grid")) {
        if (o.xlsx.empty())
            PrintGrid(m);
        else
            xl::SaveAs(xl::WriteSolubilityToExcel(m, excel), o.xlsx);
        return;
    }
    m.BuildSelectedGasTables(Deleted(chosen));
    if (app.got_subcommand("fit")) {
        m.FindBestFitNoEa();
        if (o.xlsx.empty())
            PrintFit(m, o.all);
        else
            xl::SaveAs(xl::WriteBestFitToExcel(m.NoEa(), excel), o.xlsx);
    } else if (app.got_subcommand("fit-ea")) {
        m.RunExcessAirSearch(o.dialog);
        if (o.xlsx.empty())
            PrintFitEa(m);
        else
            xl::SaveAs(xl::WriteSelectedResults(m.Ea(), excel), o.xlsx);
    }
}

// Everything printed has reached its file: a full disk or a closed pipe is an
// error, not a short result.
bool OutputWritten() {
    std::cout.flush();
    const bool ok = std::cout && std::fflush(stdout) == 0 && !std::ferror(stdout);
    if (!ok)
        std::cerr << "temra-cli: standard output: the results could not be written ("
                  << (errno ? std::strerror(errno) : "write error") << ")\n";
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    const auto app = MakeApp(o);
    try {
        app->parse(Arguments(argc, argv, *app));
    } catch (const CLI::Success& e) { // --help
        return app->exit(e);
    } catch (const CLI::ParseError& e) {
        return Refuse(std::string(e.what()) + " (see temra-cli --help)");
    }
    temra::SetMemoryAdvisor(&platform::AdviseHugePages);
    platform::ReportFileSizeLimitAsError();

    Module1 m;
    m.MemoryBudget = std::numeric_limits<std::uint64_t>::max();
    m.MemoryProbe = &platform::AvailableMemory;
    try {
        Compute(o, *app, m);
    } catch (const xl::ExportError& e) {
        std::cerr << "temra-cli: --xlsx: " << e.what() << '\n';
        return 1;
    } catch (const xl::SpreadsheetError& e) {
        std::cerr << "temra-cli: --xlsx: " << e.what() << '\n';
        return 1;
    } catch (const TemraError& e) {
        std::string message = OptionFor(e.field()) + ": " + e.description();
        if (!e.detail().empty()) message += ": " + e.detail();
        return Refuse(message + " (run-time error " + std::to_string(e.code()) + ")");
    } catch (const std::bad_alloc&) {
        return Refuse(std::string("Out of memory: the computation needs more memory than this "
                                  "process may use; use larger steps or narrower ranges "
                                  "(run-time error 7)"));
    }
    return OutputWritten() ? 0 : 1;
}
