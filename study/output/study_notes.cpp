#include "study/output/study_notes.h"

#include "study/input/samples.h"
#include "study/output/flags.h"

#include "core/numtext.h"
#include "core/solubility_sets.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace temra::study {

namespace {

// How many fitted samples each note speaks of.
struct NoteCounts {
    std::size_t fitted = 0, tHigh = 0, tLow = 0, eHigh = 0, eLow = 0, maat = 0, under = 0;
    std::size_t cutT = 0, cutE = 0, cutMaat = 0, saline = 0, beyondData = 0;
    std::map<std::string, std::size_t> missing; // by gas
};

NoteCounts CountNotes(const std::vector<StudyResult>& results) {
    NoteCounts c;
    for (const StudyResult& r : results) {
        if (!r.error.empty()) continue;
        ++c.fitted;
        c.tHigh += r.ends.tempHigh;
        c.tLow += r.ends.tempLow;
        c.eHigh += r.ends.elevHigh;
        c.eLow += r.ends.elevLow;
        c.maat += r.ends.maat;
        c.under += r.dof <= 0;
        for (const std::string& f : r.flags) {
            if (f.rfind(flag::kMissing, 0) == 0) ++c.missing[f.substr(flag::kMissing.size())];
            // Counted as the flags are, a best at the end with its range cut
            // there as well: the status line's counts and the notes agree.
            c.cutT += f == flag::kCutT;
            c.cutE += f == flag::kCutE;
            c.cutMaat += f == flag::kCutMaat;
            c.saline += f == flag::kSaline;
            c.beyondData += f == flag::kBeyondData;
        }
    }
    return c;
}

// The ensemble fit's notes: the members fitted apart from their group and why,
// the groups with one member fitted, and the groups whose members may not share
// one recharge.
void GroupNotes(const std::vector<StudyResult>& results, std::vector<std::string>& notes) {
    std::vector<std::string> misfits;
    for (const StudyResult& r : results) {
        const std::string group = "group \"" + r.groupName + "\": ";
        if (!r.leftOut.empty())
            notes.push_back(group + r.sample + " is left out (" + r.leftOut + ")");
        if (r.group && r.group->members == 1)
            notes.push_back(group + "only " + r.sample +
                            " was fitted, so the group's values are its own fit");
        if (r.error.empty() && r.group && r.group->members > 1 && r.group->p &&
            *r.group->p < 0.01 &&
            std::find(misfits.begin(), misfits.end(), r.group->name) == misfits.end())
            misfits.push_back(r.group->name);
    }
    if (misfits.empty()) return;
    std::string names;
    for (const std::string& m : misfits) names += (names.empty() ? "\"" : ", \"") + m + "\"";
    notes.push_back(std::string(misfits.size() == 1 ? "the group " : "the groups ") + names +
                    (misfits.size() == 1 ? " has" : " have") +
                    " a group p below 0.01 (group-misfit): the members' gases do not fit one "
                    "recharge temperature and elevation, so they may not share one recharge");
}

// The draws that could not be fitted, sample by sample: the spread is of the
// others.
void DrawNotes(const std::vector<StudyResult>& results, std::vector<std::string>& notes) {
    for (const StudyResult& r : results)
        if (r.mc && r.mc->fitted < r.mc->draws)
            notes.push_back(EchoText(r.sample) + ": " + std::to_string(r.mc->draws - r.mc->fitted) +
                            " of " + std::to_string(r.mc->draws) +
                            " Monte Carlo draws could not be fitted (the first: " + r.mc->failure +
                            "); the spread is of the " + std::to_string(r.mc->fitted) + " fitted");
}

// What the samples' own values say: saline, beyond the solubility data,
// underdetermined, a fitted gas left blank.
void SampleNotes(const NoteCounts& c, const StudyOptions& options,
                 const std::function<std::string(std::size_t)>& of,
                 std::vector<std::string>& notes) {
    if (c.saline) notes.push_back(of(c.saline) + " saline (saline): " + FlagMeaning(flag::kSaline));
    if (c.beyondData) {
        const SolubilitySetInfo& set = SetInfoOf(options.solubility);
        notes.push_back(of(c.beyondData) + " beyond the solubility data (beyond-data): " +
                        std::string(set.name) + " holds from " + ApproxText(set.tMin) + " to " +
                        ApproxText(set.tMax) + " °C and up to " + ApproxText(set.sMax) +
                        " g/kg of salt; their concentrations there are extrapolated");
    }
    if (c.under)
        notes.push_back(of(c.under) +
                        " underdetermined: no more gases than free parameters, so p is left "
                        "empty and the ranges are not a test of the model");
    for (const auto& [gas, n] : c.missing)
        notes.push_back(of(n) + " fitted without " + gas + ", which their rows leave blank");
}

} // namespace

std::vector<std::string> StudyNotes(const std::vector<StudyResult>& results,
                                    const StudyOptions& options, char separator,
                                    const std::function<std::string(FieldId)>& name) {
    std::vector<std::string> notes;
    const NoteCounts c = CountNotes(results);
    // Comparing models or data sets, each sample's fit with each counts.
    const bool fits = options.allModels || options.allSolubility;
    const std::string what = options.allModels && options.allSolubility
                                 ? " (a sample with a model and a data set)"
                             : options.allModels ? " (a sample with a model)"
                             : fits              ? " (a sample with a data set)"
                                                 : "";
    auto of = [&](std::size_t n) {
        return std::to_string(n) + " of " + std::to_string(c.fitted) + (fits ? " fit" : " sample") +
               (c.fitted == 1 ? "" : "s") + what + (n == 1 ? " is" : " are");
    };
    auto box = [&](FieldId id) {
        const Field& f = FieldOf(id);
        const std::string text = options.grid.*f.form1;
        return DecimalText(text, separator, '.');
    };
    if (c.tHigh)
        notes.push_back(of(c.tHigh) + " best at the highest temperature, " + box(FieldId::TempMax) +
                        " °C: raise " + name(FieldId::TempMax));
    if (c.eHigh)
        notes.push_back(of(c.eHigh) + " best at the highest elevation, " + box(FieldId::ElevMax) +
                        " m: raise " + name(FieldId::ElevMax));
    if (c.tLow)
        notes.push_back(of(c.tLow) +
                        " best at 0 °C, where the grid starts: their gases ask for colder water "
                        "than the model holds");
    if (c.eLow) notes.push_back(of(c.eLow) + " best at 0 m, where the grid starts");
    if (c.maat)
        notes.push_back(of(c.maat) +
                        " best on the MAAT window's edge, 3 °C from the line (edge-MAAT): their "
                        "gases ask for a recharge further from the line; check " +
                        name(FieldId::MaatA) + " and " + name(FieldId::MaatB) + " or untick " +
                        name(FieldId::MaatTick));
    if (c.cutT)
        notes.push_back(of(c.cutT) + " given a temperature range cut by the grid's end " +
                        "(range-cut-T): the range may reach further than " + box(FieldId::TempMax) +
                        " °C or 0 °C; raise " + name(FieldId::TempMax) + " where it is cut above");
    if (c.cutE)
        notes.push_back(of(c.cutE) + " given an elevation range cut by the grid's end " +
                        "(range-cut-E): the range may reach further than " + box(FieldId::ElevMax) +
                        " m or 0 m; raise " + name(FieldId::ElevMax) + " where it is cut above");
    if (c.cutMaat)
        notes.push_back(of(c.cutMaat) +
                        " given a temperature or elevation range cut by the MAAT window's edge "
                        "(range-cut-MAAT): their gases alone allow more, and the range holds "
                        "within 3 °C of the line");
    SampleNotes(c, options, of, notes);
    DrawNotes(results, notes);
    if (options.shared.Any()) GroupNotes(results, notes);
    return notes;
}

std::string TimeNote(std::size_t samples, int draws, double seconds, char separator) {
    const int decimals = seconds >= 10 ? 0 : seconds >= 1 ? 1 : seconds >= 0.1 ? 2 : 3;
    std::string time(32, '\0');
    time.resize(static_cast<std::size_t>(
        std::snprintf(time.data(), time.size(), "%.*f", decimals, std::max(0.001, seconds))));
    if (const auto dot = time.find('.'); dot != std::string::npos) time[dot] = separator;
    if (seconds < 0.0005) time = "under " + time;
    std::string what =
        "fitted " + std::to_string(samples) + (samples == 1 ? " sample" : " samples");
    if (draws > 0) what += " × " + std::to_string(draws) + (draws == 1 ? " draw" : " draws");
    return what + " in " + time + " s";
}

} // namespace temra::study
