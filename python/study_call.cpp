#include "python/study_call.h"

#include "core/fields.h"
#include "core/gas_table.h"
#include "core/input_texts.h"
#include "core/numtext.h"
#include "core/parallel.h"
#include "core/solubility_model.h"
#include "core/solubility_sets.h"
#include "export/workbook_table.h"
#include "platform/platform.h"
#include "study/input/samples.h"
#include "study/models/models.h"
#include "study/output/flags.h"
#include "study/output/study_notes.h"
#include "study/study_fit.h"
#include "study/uncertainty/ensemble.h"
#include "study/uncertainty/monte_carlo.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cmath>
#include <limits>
#include <new>
#include <string_view>
#include <utility>

namespace temra::python {

namespace {

std::string Lower(std::string_view text) {
    std::string s(text);
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// A temra-cli option's name as a Python key: "--temp-max" is "temp_max".
std::string KeyOf(std::string_view option) {
    std::string key(option.substr(option.starts_with("--") ? 2 : 0));
    std::replace(key.begin(), key.end(), '-', '_');
    return key;
}

std::string Quoted(const std::string& key) {
    return "\"" + key + "\"";
}

// The module's arguments that stand for temra-cli's study options (the grid's
// boxes and the models' bounds follow from their tables).
struct Argument {
    std::string_view option, argument;
};
constexpr std::array kArguments{
    Argument{"--model", "model"},
    Argument{"--gases", "gases"},
    Argument{"--rel-err", "rel_err"},
    Argument{"--solubility", "solubility"},
    Argument{"--per-gram", "per_gram"},
    Argument{"--prior-maat", "prior"},
    Argument{"--prior-offset", "prior[\"offset\"]"},
    Argument{"--prior-sd", "prior[\"sd\"]"},
    Argument{"--mc-seed", "mc_seed"},
    Argument{"--mc", "mc"},
    Argument{"--ensemble", "ensemble"},
    Argument{"--threads", "threads"},
};

// The grid's boxes a study reads: those of the input page beside the measured
// gases.
bool IsGridBox(const Field& f) {
    if (f.option.empty() || (f.form1 == nullptr && f.tick == nullptr)) return false;
    for (int g = 0; g < GasCount; ++g)
        if (f.id == fields::Measured(g)) return false;
    return true;
}

std::string GridKeys() {
    std::string keys;
    for (const Field& f : kFields)
        if (IsGridBox(f)) keys += (keys.empty() ? "" : ", ") + KeyOf(f.option);
    return keys;
}

const Field* GridBox(const std::string& key) {
    for (const Field& f : kFields)
        if (IsGridBox(f) && KeyOf(f.option) == key) return &f;
    return nullptr;
}

std::string BoundKeys() {
    std::string keys;
    for (const std::string& o : study::ModelOptions())
        keys += (keys.empty() ? "" : ", ") + KeyOf(o);
    return keys;
}

void ReadGrid(const StudyCall& call, study::StudyOptions& so) {
    auto boxOf = [](const std::string& key) {
        const Field* f = GridBox(key);
        if (f == nullptr)
            throw Refused("grid", "there is no box " + Quoted(EchoText(key)) +
                                      " of the grid; its keys are " + GridKeys());
        return f;
    };
    for (const auto& [key, text] : call.grid) {
        const Field* f = boxOf(key);
        if (f->form1 == nullptr)
            throw Refused("grid[" + Quoted(key) + "]", "it is a tick: give True or False");
        so.grid.*(f->form1) = text;
    }
    for (const auto& [key, tick] : call.gridTicks) {
        const Field* f = boxOf(key);
        if (f->tick == nullptr)
            throw Refused("grid[" + Quoted(key) + "]", "it is a box: give a number, not " +
                                                           std::string(tick ? "True" : "False"));
        so.grid.*(f->tick) = tick;
    }
}

std::string ModelKeys() {
    std::string keys;
    for (const study::ModelInfo& m : study::Models()) keys += std::string(m.key) + ", ";
    return keys + "or all";
}

std::array<bool, GasCount> GasesOf(const std::vector<std::string>& names) {
    std::array<bool, GasCount> chosen{};
    for (const std::string& name : names) {
        const std::optional<int> g = GasOfName(name);
        if (!g)
            throw Refused("gases", "there is no gas " + Quoted(EchoText(name)) +
                                       "; the gases are " + GasLabels());
        chosen[static_cast<std::size_t>(*g)] = true;
    }
    if (names.empty()) throw Refused("gases", "the list of gases is empty; name at least one");
    return chosen;
}

std::string SetKeys() {
    std::string keys;
    for (const SolubilitySetInfo& s : SolubilitySets())
        keys += (keys.empty() ? "" : ", ") + std::string(s.key);
    return keys;
}

SolubilitySet SetOf(const std::string& key) {
    if (key.empty()) return SolubilitySet::Builtin;
    if (const auto set = SetOfKey(Lower(key))) return *set;
    throw Refused("solubility",
                  "there is no data set " + Quoted(EchoText(key)) + "; name one of " + SetKeys());
}

void ReadBounds(const StudyCall& call, study::StudyOptions& so) {
    const std::vector<std::string> options = study::ModelOptions();
    for (const auto& [given, value] : call.bounds) {
        const std::string& key = given; // (a lambda cannot capture a structured binding)
        const auto o = std::find_if(options.begin(), options.end(),
                                    [&](const std::string& opt) { return KeyOf(opt) == key; });
        if (o == options.end())
            throw Refused("bounds", "there is no bound " + Quoted(EchoText(key)) +
                                        "; the keys are " + BoundKeys());
        (study::IsExponentOption(*o) ? so.constants : so.upper)[*o] = value;
    }
}

void ReadModel(const StudyCall& call, study::StudyOptions& so) {
    so.allModels = Lower(call.model) == "all";
    if (so.allModels) return;
    const study::ModelInfo* m = study::ModelOfKey(Lower(call.model));
    if (m == nullptr)
        throw Refused("model", "there is no model " + Quoted(EchoText(call.model)) +
                                   "; name one of " + ModelKeys());
    so.model = m->model;
}

study::StudyOptions OptionsOf(const StudyCall& call) {
    study::StudyOptions so;
    ReadGrid(call, so);
    ReadModel(call, so);
    if (call.gases) so.gases = GasesOf(*call.gases);
    so.relErr = call.relErr;
    so.allSolubility = Lower(call.solubility) == "all";
    if (!so.allSolubility) so.solubility = SetOf(call.solubility);
    so.perGram = call.perGram;
    so.prior = call.prior;
    so.priorOffset = call.priorOffset;
    so.priorSd = call.priorSd;
    if (call.mc < 0 || call.mc > 1'000'000'000)
        throw Refused("mc", "the draws (" + std::to_string(call.mc) +
                                ") must be a whole number from 0 to 1000000000");
    so.mcDraws = static_cast<int>(call.mc);
    so.mcSeed = call.mcSeed;
    ReadBounds(call, so);
    if (call.ensemble) {
        try {
            so.shared = study::ParseShared(*call.ensemble, so);
        } catch (const Refusal& e) {
            throw Refused("ensemble", PythonWords(e.what()));
        }
    }
    return so;
}

// Sets the threads a computation may use for as long as it lives.
class ThreadsFor {
  public:
    explicit ThreadsFor(int threads) : before_(threadLimit.load()) {
        if (threads < 0 || threads > 16)
            throw Refused("threads", "the threads (" + std::to_string(threads) +
                                         ") must be a whole number from 0 (one per core) to 16");
        threadLimit = static_cast<unsigned>(threads);
    }
    ThreadsFor(const ThreadsFor&) = delete;
    ThreadsFor& operator=(const ThreadsFor&) = delete;
    ~ThreadsFor() { threadLimit = before_; }

  private:
    unsigned before_;
};

// The notes of a study, in the order temra-cli says them.
std::vector<std::string> NotesOf(const study::SampleColumns& columns,
                                 const std::vector<study::StudyResult>& results,
                                 const study::StudyOptions& so) {
    std::vector<std::string> notes;
    if (!columns.ignored.empty()) {
        std::string names;
        for (const std::string& n : columns.ignored)
            names += (names.empty() ? "" : ", ") + Quoted(EchoText(n));
        notes.push_back("columns not read: " + names);
    }
    if (const std::string c = study::ConversionSummary(columns.notes); !c.empty())
        notes.push_back(c);
    if (columns.samples.empty()) notes.emplace_back("the table has a header but no samples");
    for (const study::StudyResult& r : results)
        if (!r.error.empty()) notes.push_back("error: " + r.error);
    const auto argumentOf = [](FieldId id) {
        const Field& f = FieldOf(id);
        std::string help(f.help);
        if (const auto unit = help.rfind(" ("); unit != std::string::npos) help.erase(unit);
        return "grid[" + Quoted(KeyOf(f.option)) + "] (" + help + ")";
    };
    for (const std::string& note : study::StudyNotes(results, so, '.', argumentOf))
        notes.push_back(PythonWords(note));
    return notes;
}

} // namespace

StudyOutput RunStudy(const StudyCall& call, RunControl& control, std::atomic<int>& stage) {
    const ThreadsFor threads(call.threads);
    const study::StudyOptions so = OptionsOf(call);
    RunSettings run;
    run.MemoryBudget = std::numeric_limits<std::uint64_t>::max();
    run.MemoryProbe = &platform::AvailableMemory;
    stage = static_cast<int>(Stage::kReading);
    std::optional<xl::TableFile> read;
    if (!call.table) read = xl::ReadTableFile(call.path, call.sheet, run.MemoryAvailable());
    const study::SampleColumns columns =
        study::ReadSamples(call.table ? *call.table : read->table, so);
    stage = static_cast<int>(Stage::kFitting);
    const auto start = std::chrono::steady_clock::now();
    auto results = study::FitStudy(columns.samples, so, run, control);
    if (so.mcDraws > 0) {
        stage = static_cast<int>(Stage::kDrawing);
        study::MonteCarlo(columns.samples, so, run, results, control);
    }
    StudyOutput out;
    for (const study::ResultColumn& c : study::ResultColumns(&so)) out.columns.push_back(c.name);
    out.rows.reserve(results.size());
    for (const study::StudyResult& r : results) out.rows.push_back(study::ResultRow(r, so));
    out.notes = NotesOf(columns, results, so);
    if (read && !read->note.empty()) out.notes.insert(out.notes.begin(), read->note);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (const std::size_t fitted = columns.samples.size() - study::RefusedSamples(results, so))
        out.time = study::TimeNote(fitted, so.mcDraws, took.count(), '.');
    return out;
}

std::vector<double> Equilibrium(const std::string& gas, std::span<const double> T,
                                std::span<const double> E, std::span<const double> chloride,
                                std::span<const double> density, const std::string& solubility) {
    const std::optional<int> found = GasOfName(gas);
    if (!found)
        throw Refused("gas", "there is no gas " + Quoted(EchoText(gas)) + "; the gases are " +
                                 GasLabels());
    const int g = *found;
    const SolubilitySet set = SetOf(solubility);
    // The arguments stand in for the boxes a fault of the model names.
    const auto named = [](const char* argument) { return FieldRef{"", argument, argument}; };
    const ModelFields fields{named("T"), named("density"), named("chloride")};
    const FieldRef elevation = named("E");
    std::array<bool, GasCount> mask{};
    mask[static_cast<std::size_t>(g)] = true;
    std::vector<double> out(T.size());
    const std::array<std::pair<const char*, std::span<const double>>, 4> inputs{
        {{"T", T}, {"E", E}, {"chloride", chloride}, {"density", density}}};
    for (std::size_t i = 0; i < out.size(); ++i) {
        for (const auto& [name, values] : inputs)
            if (!std::isfinite(values[i]))
                throw Refused(name, "element " + std::to_string(i) + " of the arrays (" +
                                        ExactText(values[i]) + ") is not a finite number");
        try {
            const TemperatureFactors f =
                SetFactorsAt(set, T[i], static_cast<float>(density[i]), chloride[i], fields, mask);
            out[i] = EquilConcOf(f.SX[static_cast<std::size_t>(g)], AirPressureAt(E[i], elevation),
                                 f.VapourPressure);
        } catch (const TemraError& e) {
            std::string what =
                std::string("element ") + std::to_string(i) + " of the arrays: " + e.description();
            if (!e.detail().empty()) what += ": " + e.detail();
            throw Refused(e.field().control,
                          what + " (run-time error " + std::to_string(e.code()) + ")");
        }
    }
    return out;
}

namespace {

std::string ArgumentOf(const study::StudyError& e) {
    using S = study::StudySetting;
    switch (e.setting()) {
    case S::Upper:
    case S::Constant:
        return "bounds[" + Quoted(KeyOf(e.option())) + "]";
    case S::Prior:
        return PythonWords("--" + e.option());
    case S::Gases:
        return "gases";
    case S::RelErr:
        return "rel_err";
    case S::MonteCarlo:
        return "mc";
    case S::Ensemble:
        return "ensemble";
    case S::Table:
        break;
    }
    return "samples";
}

std::string ArgumentOf(const FieldRef& f) {
    if (f.id == FieldId::GasSelection) return "gases";
    if (f.id != kNoField && IsGridBox(FieldOf(f.id)))
        return "grid[" + Quoted(KeyOf(FieldOf(f.id).option)) + "]";
    return "grid";
}

} // namespace

Refused AsRefused(std::exception_ptr error, const std::vector<std::string>& header) {
    try {
        std::rethrow_exception(std::move(error));
    } catch (const Refused& e) {
        return e;
    } catch (const study::StudyError& e) {
        return {ArgumentOf(e), PythonWords(e.what())};
    } catch (const TemraError& e) {
        std::string what = e.description();
        if (!e.detail().empty()) what += ": " + e.detail();
        return {ArgumentOf(e.field()),
                PythonWords(what) + " (run-time error " + std::to_string(e.code()) + ")"};
    } catch (const Refusal& e) { // the table: its file, sheet, row and column
        const Culprit& at = e.culprit();
        if (at.option == "sheet") return {"sheet", e.what()};
        std::string column = at.columnName;
        if (column.empty() && at.column > 0 && at.column <= header.size())
            column = header[at.column - 1];
        return {"samples", PythonWords(e.what()), at.row, column};
    } catch (const std::bad_alloc&) {
        return {"samples", "Out of memory: the study of this table needs more memory than this "
                           "process may use; fit its samples in smaller tables (run-time error 7)"};
    }
}

std::string PythonWords(std::string text) {
    std::vector<std::pair<std::string, std::string>> words;
    words.reserve(kArguments.size() + kFields.size() + study::ModelOptions().size());
    for (const Argument& a : kArguments) words.emplace_back(a.option, a.argument);
    for (const Field& f : kFields)
        if (IsGridBox(f))
            words.emplace_back(std::string(f.option), "grid[" + Quoted(KeyOf(f.option)) + "]");
    for (const std::string& o : study::ModelOptions())
        words.emplace_back("--" + o, "bounds[" + Quoted(KeyOf(o)) + "]");
    // The longest first: "--mc-seed" before "--mc".
    std::stable_sort(words.begin(), words.end(),
                     [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
    for (const auto& [option, argument] : words) {
        for (std::size_t at = text.find(option); at != std::string::npos;
             at = text.find(option, at)) {
            const std::size_t end = at + option.size();
            const bool whole =
                end == text.size() || !(std::isalnum(static_cast<unsigned char>(text[end])) ||
                                        text[end] == '-' || text[end] == '_');
            if (!whole) {
                at = end;
                continue;
            }
            text.replace(at, option.size(), argument);
            at += argument.size();
        }
    }
    return text;
}

TableRows ModelTable() {
    TableRows t{{"key", "name", "model", "parameters", "units", "bounds", "meaning"}, {}, {}};
    for (const study::ModelInfo& m : study::Models()) {
        std::string params, units, bounds;
        for (int k = 0; k < m.paramCount; ++k) {
            const study::ModelParam& p = m.params[static_cast<std::size_t>(k)];
            const std::string sep = k ? "; " : "";
            params += sep + std::string(p.symbol);
            units += sep + std::string(p.symbol) + ": " +
                     (p.unit.empty() ? std::string("no unit") : std::string(p.unit));
            if (!p.option.empty())
                bounds += sep + std::string(p.symbol) + " up to bounds[" + Quoted(KeyOf(p.option)) +
                          "], by default " + ExactText(p.upper);
        }
        if (!m.exponent.option.empty())
            bounds += "; " + std::string(m.exponent.symbol) + " bounds[" +
                      Quoted(KeyOf(m.exponent.option)) + "], by default " +
                      ExactText(m.exponent.value);
        t.rows.push_back({std::string(m.key), std::string(m.name), std::string(m.settings), params,
                          units, bounds, PythonWords(std::string(m.help))});
    }
    return t;
}

TableRows GasTable() {
    TableRows t{{"gas", "element", "total_column", "atmospheric_share", "air_fraction"},
                {},
                {"atmospheric_share", "air_fraction"}};
    for (int g = 0; g < GasCount; ++g) {
        const Gas& gas = GasAt(g);
        t.rows.push_back({std::string(gas.graphLabel), std::string(gas.element),
                          std::string(gas.elementColumn), ExactText(gas.atmosphericShare),
                          ExactText(gas.constants.AtmFraction)});
    }
    return t;
}

TableRows FlagTable() {
    TableRows t{{"flag", "meaning", "set_by"}, {}, {}};
    for (const study::FlagInfo& f : study::Flags())
        t.rows.push_back({study::FlagName(f), PythonWords(study::FlagMeaningInGeneral(f)),
                          PythonWords(std::string(f.setBy))});
    return t;
}

TableRows SolubilityTable() {
    TableRows t{{"key", "name", "sources"}, {}, {}};
    for (const SolubilitySetInfo& s : SolubilitySets())
        t.rows.push_back({std::string(s.key), std::string(s.name), std::string(s.sources)});
    return t;
}

} // namespace temra::python
