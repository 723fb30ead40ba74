// The manual page temra-cli(1), written from the same parser as --help, so that
// every subcommand and option it lists is one the program takes, with its help
// and its default.
#include "cli/cli.h"
#include "cli/options.h"

#include "core/numtext.h"
#include "core/version.h"
#include "study/input/samples.h"
#include "study/output/flags.h"

#include <string>
#include <vector>

namespace temra::cli {

namespace {

// Text for roff: backslashes doubled, hyphens of options and numbers as \-, and
// a line never begins with a control character.
std::string Roff(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\')
            out += "\\e";
        else if (c == '-' && (i == 0 || text[i - 1] == ' ' || text[i - 1] == '-' ||
                              text[i - 1] == '(' || text[i - 1] == '['))
            out += "\\-";
        else
            out += c;
    }
    if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out.insert(0, "\\&");
    return out;
}

// Text of the tables (which write units and symbols in UTF-8) for roff: as Roff,
// the degree sign and the Greek letters the tables use as roff's own glyphs.
std::string RoffSymbols(const std::string& text) {
    static const std::pair<std::string_view, std::string_view> kGlyphs[] = {
        {"°", "\\(de"}, {"σ", "\\(*s"}, {"χ", "\\(*x"}, {"β", "\\(*b"},
        {"²", "2"},     {"−", "\\-"},   {"…", "..."},   {"×", "\\(mu"}};
    std::string out = Roff(text);
    for (const auto& [glyph, roff] : kGlyphs)
        for (auto at = out.find(glyph); at != std::string::npos; at = out.find(glyph, at)) {
            out.replace(at, glyph.size(), roff);
            at += roff.size();
        }
    return out;
}

// An option's name: every hyphen a minus sign, so that it can be copied.
std::string RoffName(const std::string& name) {
    std::string out;
    for (char c : name) out += c == '-' ? std::string("\\-") : std::string(1, c);
    return out;
}

// What an option's value is, as the synopsis names it.
const char* ValueName(const std::string& option) {
    if (option == "--xlsx") return "file";
    if (option == "--gases") return "list";
    return "text";
}

void DescribeOption(std::ostream& out, const CLI::Option& o) {
    std::string name = o.get_name(false, true);
    out << ".TP\n";
    if (o.get_positional()) {
        out << "\\fI" << Roff(o.get_name()) << "\\fR\n";
    } else {
        out << "\\fB" << RoffName(name) << "\\fR";
        if (o.get_items_expected_max() > 0) out << " \\fI" << ValueName(name) << "\\fR";
        out << '\n';
    }
    std::string help = o.get_description();
    const std::string def = o.get_default_str();
    if (!def.empty() && o.get_items_expected_max() > 0) help += " (default: " + def + ")";
    out << Roff(help) << ".\n";
}

void ListOptions(std::ostream& out, const CLI::App& app) {
    for (const CLI::Option* o : app.get_options()) {
        const std::string name = o->get_name(false, true);
        if (name == "--help" || name == "-h,--help") continue;
        DescribeOption(out, *o);
    }
}

struct Example {
    const char* what;
    const char* command;
};

const Example kExamples[] = {
    {"Every grid case of the default input page, as CSV:", "temra-cli grid > grid.csv"},
    {"A finer grid up to 2500 m, written as the \"NG Solubility\" workbook:",
     "temra-cli --elev-max 2500 --elev-step 50 --temp-step 0.5 grid --xlsx grid.xlsx"},
    {"The ten cases that fit neon, argon, krypton and xenon best, without excess air:",
     "temra-cli --gases Ne-20,Ar-40,Kr-84,Xe fit"},
    {"The deviation of every case, as the \"Difference Results\" workbook:",
     "temra-cli fit --all --xlsx difference.xlsx"},
    {"The ten best cases for each amount of excess air from 0.002 to 0.02:",
     "temra-cli fit-ea --ea-min 0.002 --ea-max 0.02 --ea-step 0.002"},
    {"The curves of the He-4 and Ne-20 pair as JSON:", "temra-cli --gases He-4,Ne-20 pair --json"},
    {"Every sample of a table, closed-system excess air, read from standard input:",
     "temra-cli study --model ce - < samples.csv"},
    {"The same with the MAAT relation of a region, as the \"Study Results\" workbook:",
     "temra-cli --maat --maat-a -108 --maat-b 2289 study samples.csv --xlsx study.xlsx"},
    {"A table of concentrations per gram of water, each multiplied by its sample's density:",
     "temra-cli study --per-gram samples.csv"},
    {"The samples of each group (the column \"group\") fitted together, sharing their "
     "recharge temperature and elevation:",
     "temra-cli study --ensemble T,E samples.csv"},
};

// NAME and SYNOPSIS: a line per command with its options.
void WriteSynopsis(std::ostream& out, const CLI::App& app) {
    const std::string version(kVersion), date(kReleaseDate);
    out << ".\\\" The manual page of temra-cli, written by the build from its options.\n"
        << ".TH TEMRA\\-CLI 1 \"" << date << "\" \"Temra " << version << "\" \"User Commands\"\n"
        << ".SH NAME\n"
        << "temra\\-cli \\- air-equilibrium concentrations of dissolved atmospheric gases, best "
           "fits of recharge temperature and elevation, gas-pair curves and study fits\n"
        << ".SH SYNOPSIS\n";
    const auto subcommands = app.get_subcommands([](const CLI::App*) { return true; });
    for (const CLI::App* sub : subcommands) {
        out << ".B temra\\-cli\n[\\fIoptions\\fR] \\fB" << Roff(sub->get_name()) << "\\fR";
        for (const CLI::Option* opt : sub->get_options()) {
            const std::string name = opt->get_name(false, true);
            if (name == "--help" || name == "-h,--help") continue;
            if (opt->get_positional())
                out << " \\fI" << Roff(opt->get_name()) << "\\fR";
            else
                out << " [\\fB" << RoffName(name) << "\\fR"
                    << (opt->get_items_expected_max() > 0
                            ? std::string(" \\fI") + ValueName(name) + "\\fR"
                            : std::string())
                    << "]";
        }
        out << "\n.br\n";
    }
    out << ".B temra\\-cli\n\\fB\\-\\-help\\fR | \\fB\\-\\-version\\fR\n";
}

void WriteDescription(std::ostream& out) {
    out << ".SH DESCRIPTION\n"
        << "temra\\-cli computes what the desktop program Temra computes, without its windows. "
           "A groundwater sample's dissolved He\\-4, Ne\\-20, Ar\\-40, Kr\\-84, Xe, N2 and O2 "
           "are compared with the concentrations that water takes up in equilibrium with air "
           "over a grid of recharge elevations and temperatures.\n"
        << ".PP\n"
        << "Every value option takes a text as it would be typed into the box of the input "
           "page or dialog it stands for, with the same default and the same checks; "
           "\\(oq.\\(cq is the decimal point. "
           "\\fB\\-\\-option=\\fR with nothing after the equals sign is an empty text and is "
           "refused like an empty box.\n"
        << ".PP\n"
        << "Results go to standard output as CSV with a header row (the gas-pair graph also as "
           "JSON). Every number is printed in the shortest form that reads back to the same "
           "value. With \\fB\\-\\-xlsx\\fR the result is written instead as the workbook the "
           "desktop program writes, with a second sheet \"Settings\" that lists the version "
           "and the inputs of the run. A workbook is never written over an existing file, and "
           "it is either complete under its name or absent.\n"
        << ".PP\n"
        << "A result that is empty or says less than it seems (a grid without cases, a fit "
           "that ranks no case) is explained by a line \"temra\\-cli: note: ...\" on standard "
           "error.\n";
}

// OPTIONS and COMMANDS, from the options themselves.
void WriteOptions(std::ostream& out, const CLI::App& app) {
    const auto subcommands = app.get_subcommands([](const CLI::App*) { return true; });
    out << ".SH OPTIONS\nThese options come before or after the command; they are the boxes "
           "of the input page.\n";
    ListOptions(out, app);

    out << ".SH COMMANDS\n";
    for (const CLI::App* sub : subcommands) {
        out << ".SS " << Roff(sub->get_name()) << "\n" << Roff(sub->get_description()) << ".\n";
        ListOptions(out, *sub);
    }
}

void WriteStudyTables(std::ostream& out) {
    out << ".SH STUDY TABLES\n"
        << "\\fBstudy\\fR reads a table with a header row, separated by commas, semicolons or "
           "tabs (whichever the header holds most of), with \\(oq.\\(cq as decimal point; "
           "\\fB\\-\\fR reads it from standard input. Its columns are matched without regard "
           "to case:\n"
        << ".PP\n.EX\n"
        << "sample,He\\-4,Ne\\-20,Ar\\-40,Kr\\-84,Xe,N2,O2,Ne\\-20 err,chloride,density,"
           "elevation\n"
        << ".EE\n.PP\n"
        << "\\fI<gas>\\fR err holds absolute 1\\-sigma errors (otherwise \\fB\\-\\-rel\\-err\\fR "
           "times the measured value); chloride, density and a known recharge elevation are "
           "optional. A sample that cannot be read becomes an error row, with \"error: ...\" "
           "in its flags, and the other samples are still fitted.\n"
        << ".PP\n"
        << "Concentrations and their errors are in cm\\(S3 STP per cm\\(S3 of water, as on the "
           "input page. With \\fB\\-\\-per\\-gram\\fR they are per gram of water (cm\\(S3 "
           "STP/g H2O), and each is multiplied by the sample's density (g/cm\\(S3) before the "
           "fit. The \"Settings\" of the workbook state which.\n"
        << ".PP\n"
        << "The columns He, Ne, Ar and Kr (and their err) hold the total gas: their values are "
           "read as He\\-4, Ne\\-20, Ar\\-40 and Kr\\-84, times the isotope's share of the "
           "atmosphere's gas ("
        << ExactText(study::AtmosphericShare(0)) << ", " << ExactText(study::AtmosphericShare(1))
        << ", " << ExactText(study::AtmosphericShare(2)) << " and "
        << ExactText(study::AtmosphericShare(3))
        << "), and a note on standard "
           "error and a line of the \"Settings\" say so. Xe is all its isotopes. A table that "
           "gives one gas in both forms, or any column it reads twice, is refused naming both "
           "columns.\n"
        << ".PP\n"
        << "Chloride is in moles per litre (mol/l), as on the input page. The model's salt "
           "correction is made for fresh to brackish water: beyond 0.033 mol/l chloride it "
           "moves a recharge temperature by more than 0.1 \\(deC against sea\\-salt "
           "solubilities (+1.4 \\(deC at sea water's 35 g/kg), and such a sample is flagged "
           "saline.\n"
        << ".PP\n"
        << "The table is UTF\\-8 text. A quote that is never closed, a field that is not "
           "UTF\\-8 or holds a NUL byte, and a file in UTF\\-16 or UTF\\-32 are refused naming "
           "the row (and column) or the encoding. A row with more or fewer fields than the "
           "header is an error row that says so. A table with a header and no samples gives "
           "the header of the results and a note. Messages on standard error show control "
           "characters of the table as escapes (\\et, \\en, \\ex00); the CSV keeps the "
           "table's text as it is, quoted.\n"
        << ".PP\n"
        << "The grid searches every case; the reported temperature, elevation (when not "
           "known), A and F are the minimum of the continuous model near the best case, within "
           "the grid's bounds, so they do not depend on the grid's step, and the 1\\-sigma "
           "ranges are the limits of chi2 = chi2min + 1 on each parameter's profile. Standard "
           "error says once how many samples are at an end of the grid, naming the option to "
           "widen. The column flags holds, separated by ';':\n";
    for (const study::FlagInfo& f : study::Flags())
        out << ".TP\n\\fB" << RoffName(study::FlagName(f)) << "\\fR\n"
            << RoffSymbols(study::FlagMeaningInGeneral(f)) << " (set by "
            << RoffSymbols(std::string(f.setBy)) << ").\n";
}

// EXIT STATUS and ENVIRONMENT.
void WriteStatusAndEnvironment(std::ostream& out) {
    out << ".SH EXIT STATUS\n"
        << ".TP\n.B 0\nDone.\n"
        << ".TP\n.B 1\nThe results or the workbook could not be written (a full disk, a closed "
           "output, a file of that name exists), or, for \\fBstudy\\fR, some samples were "
           "refused and appear as error rows.\n"
        << ".TP\n.B 2\nRefused: an option, a box's text, the table of samples or the memory "
           "needed. One line on standard error names the option to change: "
           "\"temra\\-cli: \\-\\-option: description: detail\".\n"
        << ".PP\n"
        << "Interrupted (SIGINT) or terminated (SIGTERM, SIGHUP), temra\\-cli removes the "
           "workbook it was writing and ends by that signal (a shell shows 130 or 143).\n";

    out << ".SH ENVIRONMENT\n"
        << ".TP\n.B NO_COLOR\n"
        << "temra\\-cli writes no colour and no other terminal control sequences, so its "
           "output is the same whether or not NO_COLOR is set.\n"
        << ".PP\n"
        << "The memory a computation may use is what this process may really claim: physical "
           "memory, its resource limits and its control group. A computation that needs more "
           "is refused before it starts.\n";
}

void WriteExamples(std::ostream& out) {
    out << ".SH EXAMPLES\n";
    for (const Example& e : kExamples)
        out << Roff(e.what) << "\n.PP\n.RS\n.EX\n" << Roff(e.command) << "\n.EE\n.RE\n.PP\n";

    out << ".SH SEE ALSO\n"
        << "The desktop program \\fBtemra\\fR, started from the application menu as Temra, "
           "has the same computations with their graphs, the samples window and the misfit "
           "map.\n"
        << ".PP\n"
        << "The user guide, with the model's equations and their sources, the fits, the "
           "flags and a worked example: \\fI/usr/share/doc/temra/guide.md\\fR (from the "
           "Debian package; \\fI/usr/local/share/doc/temra/guide.md\\fR after \\fBcmake "
           "\\-\\-install\\fR), its example in \\fIexamples/\\fR beside it; in the desktop "
           "program, Help \\(-> User guide.\n";
}

} // namespace

void WriteManPage(std::ostream& out) {
    Options o;
    const auto app = MakeApp(o);
    WriteSynopsis(out, *app);
    WriteDescription(out);
    WriteOptions(out, *app);
    WriteStudyTables(out);
    WriteStatusAndEnvironment(out);
    WriteExamples(out);
}

} // namespace temra::cli
