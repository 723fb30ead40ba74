#include "study/output/study_results.h"

#include "study/models/models.h"
#include "study/uncertainty/ensemble.h"

#include "core/fields.h"
#include "core/numtext.h"
#include "core/solubility_sets.h"

#include <algorithm>
#include <optional>
#include <string_view>

namespace temra::study {

namespace {

using K = ResultCell::Kind;

ResultCell Text(std::string t) {
    return {K::Text, 0, std::move(t)};
}
ResultCell Number(double v) {
    return {K::Double, v, {}};
}
ResultCell Maybe(const std::optional<double>& v) {
    return v ? Number(*v) : ResultCell{};
}

std::string FlagText(const StudyResult& r) {
    if (!r.error.empty()) return "error: " + r.error;
    std::string flags;
    for (const std::string& f : r.flags) flags += (flags.empty() ? "" : ";") + f;
    return flags;
}

} // namespace

namespace {

ResultColumn Column(std::string name, std::string header, int place, Shown shown, std::string unit,
                    double width, std::function<ResultCell(const StudyResult&)> cell) {
    return {std::move(name),
            std::move(header),
            place,
            shown,
            std::move(unit),
            width,
            false,
            [cell = std::move(cell)](const StudyResult& r, const StudyOptions&) { return cell(r); },
            {}};
}

// A result's estimate of the parameter a column stem names; nothing for a model
// without it.
std::optional<Estimate> EstimateOf(const StudyResult& r, const ModelInfo& model,
                                   std::string_view stem) {
    for (int k = 0; k < model.paramCount; ++k) {
        if (model.params[static_cast<std::size_t>(k)].column != stem) continue;
        if (k == 0) return Estimate{r.A, r.ALo, r.AHi};
        return r.second;
    }
    return std::nullopt;
}

bool EveryModelNames(std::string_view stem) {
    return std::all_of(Models().begin(), Models().end(), [&](const ModelInfo& m) {
        return std::any_of(m.params.begin(), m.params.begin() + m.paramCount,
                           [&](const ModelParam& p) { return p.column == stem; });
    });
}

// The three columns of a parameter column a model names (its value and the
// limits of its range), filled for a result of a model with that parameter.
void AddParamColumns(std::vector<ResultColumn>& columns, const ModelParam& param, int place) {
    const std::string stem(param.column);
    const std::string symbol(param.symbol);
    const char* ends[] = {"", "_lo", "_hi"};
    const char* headers[] = {"", " low", " high"};
    for (int end = 0; end < 3; ++end) {
        auto cell = [stem, end](const StudyResult& r, const StudyOptions&) {
            const std::optional<Estimate> e = EstimateOf(r, InfoOf(r.model), stem);
            if (!e) return ResultCell{};
            return Number(end == 0 ? e->value : end == 1 ? e->lo : e->hi);
        };
        columns.push_back({stem + ends[end], symbol + headers[end], place + end, Shown::Number,
                           std::string(param.unit), 18, !EveryModelNames(stem), cell});
    }
}

// Columns the window shows only where a result fills them.
template <std::size_t N>
void AppendShownWhenFilled(std::vector<ResultColumn>& c, const ResultColumn (&columns)[N]) {
    for (const ResultColumn& column : columns) {
        c.push_back(column);
        c.back().hideWhenEmpty = true;
    }
}

// The columns of what the gases say beyond the fit, and the mark of a sample's
// preferred model; the window shows them where a result fills them.
void AddBeyondColumns(std::vector<ResultColumn>& c) {
    using R = const StudyResult&;
    const std::string conc = "cm³ STP per cm³ of water (per g with per-gram concentrations)";
    auto sigma = [](const std::optional<Estimate>& e) {
        return e ? Number((e->hi - e->lo) / 2) : ResultCell{};
    };
    const ResultColumn rows[] = {
        Column("preferred", "Preferred", 102, Shown::Text, "", 10,
               [](R r) { return r.preferred ? Text("yes") : ResultCell{}; }),
        Column("delta_Ne_percent", "ΔNe (%)", 210, Shown::Number, "%", 18,
               [](R r) { return Maybe(r.deltaNe); }),
        Column("He4_terrigenic", "He-4 terr.", 211, Shown::Number, conc, 18,
               [](R r) { return r.heTerrigenic ? Number(r.heTerrigenic->value) : ResultCell{}; }),
        Column("He4_terrigenic_sigma", "He-4 terr. σ", 212, Shown::Number, conc, 18,
               [sigma](R r) { return sigma(r.heTerrigenic); }),
        Column("N2_excess", "N2 excess", 213, Shown::Number, conc, 18,
               [](R r) { return r.n2Excess ? Number(r.n2Excess->value) : ResultCell{}; }),
        Column("N2_excess_sigma", "N2 excess σ", 214, Shown::Number, conc, 18,
               [sigma](R r) { return sigma(r.n2Excess); }),
        Column("O2_fraction", "O2/eq", 215, Shown::Number, "", 18,
               [](R r) { return Maybe(r.o2Fraction); }),
    };
    AppendShownWhenFilled(c, rows);
    const std::pair<const char*, const char*> meanings[] = {
        {"delta_Ne_percent", "the neon measured beyond its air-equilibrium concentration at the "
                             "best fit, in % of it: the excess air as the neon shows it"},
        {"He4_terrigenic", "the He-4 measured beyond what the fit gives (equilibrium and excess "
                           "air): helium from the rock, left out of the fit"},
        {"N2_excess", "the N2 measured beyond what the fit gives: nitrogen from denitrification, "
                      "left out of the fit"},
        {"O2_fraction", "the O2 measured over its air-equilibrium concentration at the best fit: "
                        "below 1, oxygen was used up after recharge"},
    };
    for (const auto& [name, meaning] : meanings)
        for (ResultColumn& column : c)
            if (column.name == name) column.meaning = meaning;
}

// The Monte Carlo summaries: for each parameter its mean, SD and 16th, 50th and
// 84th percentiles over the draws fitted, then the draws fitted and the shares
// at a bound and at the grid's end.
void AddMonteCarloColumns(std::vector<ResultColumn>& c, const StudyOptions& o) {
    using R = const StudyResult&;
    struct Param {
        std::string stem;
        const Spread* (*of)(const McSummary&);
    };
    std::vector<Param> params = {
        {"temperature_C", [](const McSummary& m) { return &m.T; }},
        {"elevation_m", [](const McSummary& m) { return &m.E; }},
        {"excess_air", [](const McSummary& m) { return &m.A; }},
    };
    const ModelInfo& model = InfoOf(o.model);
    if (model.HasSecond())
        params.push_back({std::string(model.params[1].column),
                          [](const McSummary& m) { return m.second ? &*m.second : nullptr; }});
    const char* stats[] = {"mean", "sd", "p16", "p50", "p84"};
    for (const Param& p : params)
        for (int k = 0; k < 5; ++k) {
            auto of = p.of;
            c.push_back(
                Column("mc_" + p.stem + "_" + stats[k], "", 0, Shown::Not, "", 18, [of, k](R r) {
                    if (!r.mc || r.mc->fitted == 0) return ResultCell{};
                    const Spread* s = of(*r.mc);
                    if (!s) return ResultCell{};
                    const double v[] = {s->mean, s->sd, s->p16, s->p50, s->p84};
                    return Number(v[k]);
                }));
        }
    c.push_back(Column("mc_fitted", "", 0, Shown::Not, "", 10, [](R r) {
        return r.mc ? Number(static_cast<double>(r.mc->fitted)) : ResultCell{};
    }));
    c.push_back(Column("mc_at_bound", "", 0, Shown::Not, "", 12, [](R r) {
        return r.mc && r.mc->fitted ? Number(r.mc->atBound) : ResultCell{};
    }));
    c.push_back(Column("mc_at_edge", "", 0, Shown::Not, "", 12, [](R r) {
        return r.mc && r.mc->fitted ? Number(r.mc->atEdge) : ResultCell{};
    }));
}

// The posterior with the lapse-rate prior: each parameter's median and the ends
// of its 68 % credible interval.
void AddPosteriorColumns(std::vector<ResultColumn>& c) {
    using R = const StudyResult&;
    struct Param {
        const char* stem;
        const char* header;
        Shown shown;
        std::string_view unit;
        const Estimate* (*of)(const Posterior&);
    };
    const Param params[] = {
        {"temperature_C", "Post. T", Shown::Temperature, "°C",
         [](const Posterior& p) { return &p.T; }},
        {"elevation_m", "Post. elev.", Shown::Elevation, "m",
         [](const Posterior& p) { return &p.E; }},
        {"excess_air", "Post. A", Shown::Number, Models().front().params[0].unit,
         [](const Posterior& p) { return &p.A; }},
    };
    const char* ends[] = {"median", "lo", "hi"};
    const char* headers[] = {"", " low", " high"};
    int place = 106;
    for (const Param& p : params)
        for (int k = 0; k < 3; ++k) {
            auto of = p.of;
            c.push_back(Column(std::string("posterior_") + p.stem + "_" + ends[k],
                               std::string(p.header) + headers[k], place++, p.shown,
                               std::string(p.unit), 18, [of, k](R r) {
                                   if (!r.posterior) return ResultCell{};
                                   const Estimate* e = of(*r.posterior);
                                   return Number(k == 0 ? e->value : k == 1 ? e->lo : e->hi);
                               }));
            c.back().hideWhenEmpty = true;
        }
}

// The ensemble fit: the group a member was fitted with, and the group's chi2,
// degrees of freedom and p (the same in each member's row).
void AddGroupColumns(std::vector<ResultColumn>& c) {
    using R = const StudyResult&;
    const ResultColumn rows[] = {
        Column("group", "Group", 103, Shown::Text, "", 12,
               [](R r) { return r.group ? Text(r.group->name) : ResultCell{}; }),
        Column("group_chi2", "Group χ²", 104, Shown::Number, "", 18,
               [](R r) { return r.group ? Number(r.group->chi2) : ResultCell{}; }),
        Column("group_dof", "", 0, Shown::Not, "", 10,
               [](R r) { return r.group ? Number(r.group->dof) : ResultCell{}; }),
        Column("group_p", "Group p", 105, Shown::Number, "", 18,
               [](R r) { return r.group ? Maybe(r.group->p) : ResultCell{}; }),
    };
    AppendShownWhenFilled(c, rows);
}

// Every solubility data set compared: each row's data set, and the shift of its
// T, elevation and A against builtin's fit of the same sample and model.
void AddSolubilityColumns(std::vector<ResultColumn>& c) {
    using R = const StudyResult&;
    auto shift = [](double StudyResult::Shift::*of) {
        return [of](R r) { return r.shift ? Number((*r.shift).*of) : ResultCell{}; };
    };
    c.push_back(Column("solubility", "Data set", 0, Shown::Text, "", 12,
                       [](R r) { return Text(std::string(SetInfoOf(r.solubility).key)); }));
    c.push_back(Column("dT_vs_builtin_C", "ΔT vs builtin", 7, Shown::Number, "°C", 18,
                       shift(&StudyResult::Shift::T)));
    c.back().meaning = "the recharge temperature less builtin's for the same sample and model";
    c.push_back(Column("dE_vs_builtin_m", "ΔE vs builtin", 8, Shown::Number, "m", 18,
                       shift(&StudyResult::Shift::E)));
    c.back().meaning = "the recharge elevation less builtin's for the same sample and model";
    c.push_back(Column("dA_vs_builtin", "ΔA vs builtin", 9, Shown::Number, "", 18,
                       shift(&StudyResult::Shift::A)));
    c.back().meaning = "the excess air less builtin's for the same sample and model";
}

} // namespace

std::vector<ResultColumn> ResultColumns(const StudyOptions* options) {
    using R = const StudyResult&;
    using O = const StudyOptions&;
    std::vector<ResultColumn> c = {
        {"sample", "", 0, Shown::Not, "", 20, false, [](R r, O) { return Text(r.sample); }},
        {"model", "Model", 0, Shown::Text, "", 8, false,
         [](R r, O) { return Text(std::string(InfoOf(r.model).name)); }},
        {"gases", "", 0, Shown::Not, "", 24, false, [](R, O o) { return Text(GasList(o.gases)); }},
        Column("n", "", 0, Shown::Not, "", 6, [](R r) { return Number(r.n); }),
        Column("dof", "", 0, Shown::Not, "", 6, [](R r) { return Number(r.dof); }),
        Column("chi2", "χ²", 100, Shown::Number, "", 18, [](R r) { return Number(r.chi2); }),
        Column("p", "p", 101, Shown::Number, "", 18, [](R r) { return Maybe(r.p); }),
        Column("case", "", 0, Shown::Not, "", 18,
               [](R r) { return Number(static_cast<double>(r.caseNo)); }),
        Column("elevation_m", "Elevation (m)", 4, Shown::Elevation, "m", 18,
               [](R r) { return Number(r.elevation); }),
        Column("elevation_lo_m", "Elev. low", 5, Shown::Elevation, "m", 18,
               [](R r) { return Number(r.elevationLo); }),
        Column("elevation_hi_m", "Elev. high", 6, Shown::Elevation, "m", 18,
               [](R r) { return Number(r.elevationHi); }),
        Column("temperature_C", "T (°C)", 1, Shown::Temperature, "°C", 18,
               [](R r) { return Number(r.temperature); }),
        Column("temperature_lo_C", "T low", 2, Shown::Temperature, "°C", 18,
               [](R r) { return Number(r.temperatureLo); }),
        Column("temperature_hi_C", "T high", 3, Shown::Temperature, "°C", 18,
               [](R r) { return Number(r.temperatureHi); }),
    };
    std::vector<std::string_view> stems;
    for (const ModelInfo& m : Models())
        for (int k = 0; k < m.paramCount; ++k) {
            const ModelParam& p = m.params[static_cast<std::size_t>(k)];
            if (std::find(stems.begin(), stems.end(), p.column) != stems.end()) continue;
            AddParamColumns(c, p, 10 + 3 * static_cast<int>(stems.size()));
            stems.push_back(p.column);
        }
    AddBeyondColumns(c);
    c.push_back(
        Column("flags", "Flags", 200, Shown::Flags, "", 40, [](R r) { return Text(FlagText(r)); }));
    if (options && options->shared.Any()) AddGroupColumns(c);
    if (options && options->prior) AddPosteriorColumns(c);
    if (options && options->mcDraws > 0) AddMonteCarloColumns(c, *options);
    if (options && options->allSolubility) AddSolubilityColumns(c);
    return c;
}

std::vector<ResultCell> ResultRow(const StudyResult& r, const StudyOptions& o) {
    const std::vector<ResultColumn> columns = ResultColumns(&o);
    std::vector<ResultCell> row;
    row.reserve(columns.size());
    for (const ResultColumn& c : columns) {
        const bool kept = r.error.empty() || c.name == "sample" || c.name == "flags";
        row.push_back(kept ? c.cell(r, o) : ResultCell{});
    }
    return row;
}

namespace {

void ModelSettings(std::vector<std::pair<std::string, std::string>>& s, const ModelInfo& model,
                   const StudyOptions& o, Words words) {
    s.emplace_back(o.allModels ? "Model " + std::string(model.name) : std::string("Model"),
                   std::string(model.settings));
    for (int k = 0; k < model.paramCount; ++k) {
        const ModelParam& p = model.params[static_cast<std::size_t>(k)];
        const std::string unit = p.unit.empty() ? "" : ", " + std::string(p.unit);
        if (!p.option.empty() && words == Words::kWindow)
            s.emplace_back(BoxOfOption(p.option) + unit, ExactText(p.hi(p, o)));
        else if (!p.option.empty())
            s.emplace_back("Largest " + std::string(p.symbol) + unit + " (--" +
                               std::string(p.option) + ")",
                           ExactText(p.hi(p, o)));
        else if (!p.bounds.empty())
            s.emplace_back(std::string(p.symbol), std::string(p.bounds));
    }
    if (const ModelConstant& c = model.exponent; !c.option.empty())
        s.emplace_back("Exponent " + std::string(c.symbol) + " of " + std::string(model.name) +
                           (words == Words::kWindow ? "" : " (--" + std::string(c.option) + ")"),
                       ExactText(ConstantOf(c, o)));
}

} // namespace

std::vector<std::pair<std::string, std::string>> StudySettings(const StudyOptions& o, Words words) {
    std::vector<std::pair<std::string, std::string>> s;
    // The model (or, comparing them, every model) with its bounds.
    std::vector<const ModelInfo*> models;
    if (o.allModels)
        for (const ModelInfo& m : Models()) models.push_back(&m);
    else
        models.push_back(&InfoOf(o.model));
    for (const ModelInfo* model : models) ModelSettings(s, *model, o, words);
    if (o.allSolubility) {
        for (const SolubilitySetInfo& set : SolubilitySets())
            s.emplace_back("Solubility data " + std::string(set.key),
                           std::string(set.name) + ": " + std::string(set.sources));
        s.emplace_back("Solubility data compared",
                       "each sample's rows one per data set; dT_vs_builtin_C, dE_vs_builtin_m "
                       "and dA_vs_builtin give each fit's shift against builtin's");
    } else if (auto data = SolubilitySetting(o.solubility)) {
        s.push_back(std::move(*data));
    }
    if (o.allModels)
        s.emplace_back("Models compared", "each sample's rows one per model; \"preferred\" marks "
                                          "the highest p among those with a degree of freedom");
    if (o.prior) {
        s.emplace_back("Prior on the recharge temperature",
                       "normal around the MAAT line's temperature at each elevation, T = (H - b) "
                       "/ a with the MAAT equation's a and b, plus the offset");
        s.emplace_back("Prior offset (°C)", ExactText(o.priorOffset));
        s.emplace_back("Prior spread (°C)", ExactText(o.priorSd));
    }
    if (o.shared.Any()) {
        s.emplace_back("Shared by the members of a group (ensemble fit)", SharedText(o.shared));
        s.emplace_back("Groups", "the samples of one name in the column \"group\" fitted "
                                 "together, each with its own excess air; the group's chi2 is "
                                 "the sum of its members'");
    }
    if (o.mcDraws > 0) {
        s.emplace_back("Monte Carlo draws of each sample", std::to_string(o.mcDraws));
        s.emplace_back("Monte Carlo seed", std::to_string(o.mcSeed));
    }
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

namespace {

std::string Escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '%')
            out += "%25";
        else if (c == ';')
            out += "%3B";
        else if (c == '=')
            out += "%3D";
        else
            out += c;
    }
    return out;
}

std::string Unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const std::string_view code = std::string_view(text).substr(i, 3);
        const char c = code == "%25" ? '%' : code == "%3B" ? ';' : code == "%3D" ? '=' : '\0';
        if (c != '\0') i += 2;
        out += c != '\0' ? c : text[i];
    }
    return out;
}

double Number(const std::string& key, const std::string& text) {
    try {
        return ParseDouble(text, FieldRef{}, '.');
    } catch (const TemraError&) {
        throw StudyError("the setting " + key + " (" + text + ") is no number");
    }
}

// Reads the model, the gases or the data set into `o`; false for another key.
bool ReadChoice(const std::string& key, const std::string& value, StudyOptions& o) {
    if (key == "model") {
        o.allModels = value == "all";
        const ModelInfo* m = ModelOfKey(value);
        if (!o.allModels && !m) throw StudyError("the setting model (" + value + ") is no model");
        if (m) o.model = m->model;
        return true;
    }
    if (key == "gases") {
        for (int g = 0; g < GasCount; ++g)
            o.gases[static_cast<std::size_t>(g)] =
                (";" + value + ";").find(";" + GasName(g) + ";") != std::string::npos;
        return true;
    }
    if (key != "solubility") return false;
    o.allSolubility = value == "all";
    if (o.allSolubility) return true;
    const auto set = SetOfKey(value);
    if (!set) throw StudyError("the setting solubility (" + value + ") is no data set");
    o.solubility = *set;
    return true;
}

// Reads one pair of the line into `o`; false for a key it does not know.
bool ReadPair(const std::string& key, const std::string& value, StudyOptions& o) {
    if (ReadChoice(key, value, o)) return true;
    if (key == "rel_err") {
        o.relErr = Number(key, value);
    } else if (key == "prior_offset") {
        o.priorOffset = Number(key, value);
    } else if (key == "prior_sd") {
        o.priorSd = Number(key, value);
    } else if (key == "per_gram" || key == "prior") {
        (key == "per_gram" ? o.perGram : o.prior) = value == "yes";
    } else if (key == "draws") {
        o.mcDraws = static_cast<int>(Number(key, value));
    } else if (key == "seed") {
        Number(key, value); // refuses a text that is no number
        o.mcSeed = std::stoull(value);
    } else if (key == "shared") {
        o.shared = {value.find('T') != std::string::npos, value.find('E') != std::string::npos};
    } else {
        return false;
    }
    return true;
}

} // namespace

std::string OptionsLine(const StudyOptions& o) {
    std::vector<std::pair<std::string, std::string>> pairs{
        {"model", o.allModels ? "all" : std::string(InfoOf(o.model).key)},
        {"gases", GasList(o.gases)},
        {"rel_err", ExactText(o.relErr)},
        {"solubility", o.allSolubility ? "all" : std::string(SetInfoOf(o.solubility).key)},
        {"per_gram", o.perGram ? "yes" : "no"},
        {"prior", o.prior ? "yes" : "no"},
        {"prior_offset", ExactText(o.priorOffset)},
        {"prior_sd", ExactText(o.priorSd)},
        {"draws", std::to_string(o.mcDraws)},
        {"seed", std::to_string(o.mcSeed)},
        {"shared", std::string(o.shared.T ? "T" : "") + (o.shared.E ? "E" : "")}};
    for (const std::string& option : ModelOptions()) {
        const auto& values = IsExponentOption(option) ? o.constants : o.upper;
        if (const auto v = values.find(option); v != values.end())
            pairs.emplace_back(option, ExactText(v->second));
    }
    for (const Field& f : kFields) {
        if (f.form1 && f.id >= FieldId::Density) pairs.emplace_back(f.control, o.grid.*f.form1);
        if (f.tick) pairs.emplace_back(f.control, o.grid.*f.tick ? "yes" : "no");
    }
    std::string line;
    for (const auto& [key, value] : pairs)
        line += (line.empty() ? "" : "; ") + key + "=" + Escaped(value);
    return line;
}

StudyOptions OptionsOfLine(const std::string& line) {
    StudyOptions o;
    const std::vector<std::string> options = ModelOptions();
    std::size_t start = 0;
    while (start < line.size()) {
        std::size_t end = line.find("; ", start);
        if (end == std::string::npos) end = line.size();
        const std::string pair = line.substr(start, end - start);
        start = end + 2;
        const auto eq = pair.find('=');
        if (eq == std::string::npos) throw StudyError("the setting \"" + pair + "\" has no value");
        const std::string key = pair.substr(0, eq), value = Unescaped(pair.substr(eq + 1));
        if (ReadPair(key, value, o)) continue;
        if (std::find(options.begin(), options.end(), key) != options.end()) {
            (IsExponentOption(key) ? o.constants : o.upper)[key] = Number(key, value);
            continue;
        }
        const auto f = std::find_if(kFields.begin(), kFields.end(), [&](const Field& field) {
            return field.id >= FieldId::Density && field.control == key &&
                   (field.form1 || field.tick) && field.window == "Form1";
        });
        if (f == kFields.end()) throw StudyError("the setting " + key + " is not one of Temra's");
        if (f->form1) o.grid.*(f->form1) = value;
        if (f->tick) o.grid.*(f->tick) = value == "yes";
    }
    return o;
}

std::vector<std::pair<std::string, std::string>>
ColumnSettings(const std::vector<ColumnNote>& notes) {
    std::vector<std::pair<std::string, std::string>> s;
    s.reserve(notes.size());
    for (const ColumnNote& n : notes) s.emplace_back("Column \"" + n.column + "\"", n.reading);
    return s;
}

std::vector<std::string> ChangedSettings(const StudyOptions& before, const StudyOptions& after,
                                         Words words) {
    const auto was = StudySettings(before, words), now = StudySettings(after, words);
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
