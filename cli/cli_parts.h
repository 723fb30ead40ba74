// The parts of temra-cli that its files share: the texts it writes (cli/text.cpp),
// the printers of the computations' results (cli/printers.cpp) and the study's
// driver (cli/study_driver.cpp). The options are cli/options.h's.
#pragma once

#include "cli/options.h"
#include "core/gas_table.h"
#include "core/module1.h"
#include "study/results.h"
#include "study/study_options.h"

#include <CLI/CLI.hpp>

#include <array>
#include <ostream>
#include <string>
#include <vector>

namespace temra::cli {

// ---- Texts (cli/text.cpp)

// Nothing but blanks: an empty text.
bool Blank(const std::string& text);

// A text as a terminal shows it, every character visible: control characters
// (C0, DEL, C1) as escapes ("\t", "\n", "\x00", "\u009b") and bytes that are not
// UTF-8 as "\xHH". A message quotes what the table and the arguments hold, which
// may be anything.
std::string Visible(std::string_view text);

// A line to standard error, every character of it visible.
void Say(std::ostream& err, const std::string& text);

void Note(std::ostream& err, const std::string& text);

// ---- Printers (cli/printers.cpp)

void PrintGrid(const Module1& m, std::ostream& out, std::ostream& err);

void PrintFit(const Module1& m, bool all, std::ostream& out, std::ostream& err);

void PrintFitEa(const Module1& m, std::ostream& out, std::ostream& err);

void PrintPair(const GasPairGraph& p, bool json, std::ostream& out);

void PrintStudy(const std::vector<study::StudyResult>& results, const study::StudyOptions& so,
                std::ostream& out);

// ---- The study's driver (cli/study_driver.cpp)

// A refusal of an option that is no box of a window: the option and what is wrong.
class OptionRefusal : public Refusal {
  public:
    OptionRefusal(std::string option, std::string detail)
        : Refusal(option + ": " + detail, OptionCulprit(option)), option(std::move(option)),
          detail(std::move(detail)) {}
    std::string option;
    std::string detail;
};

double OptionNumber(const std::string& text, const char* option);

// An option the chosen subcommand reads is refused when it was given empty ("--xlsx=",
// "--gases ''"); options it does not read may stay empty, as boxes of the input page
// the computation does not read. The boxes of the windows are refused where they are
// read, as on the windows.
void RefuseEmptyOptions(const Options& o, const CLI::App& app);

// The option of a study setting at fault; the table is named by its file.
std::string StudyOption(study::StudySetting setting, const Options& o,
                        const std::string& option = {});

// --solubility: the data set of a key of the table; refused naming the keys.
SolubilitySet SolubilityOf(const std::string& key);
// --solubility all: every data set compared (the study's only).
bool EveryDataSet(const std::string& key);

int RunStudy(const Options& o, const CLI::App& app, const std::array<bool, GasCount>& chosen,
             Module1& m, std::ostream& out, std::ostream& err);

} // namespace temra::cli
