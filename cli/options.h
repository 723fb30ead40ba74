// The options of temra-cli and the texts they fill: one table for the parser, the
// help and the manual page.
#pragma once

#include "core/input_texts.h"
#include "study/models/models.h"

#include <CLI/CLI.hpp>

#include <map>
#include <memory>
#include <string>

namespace temra::cli {

struct Options {
    Form1Texts form1;
    std::string gases = "He-4,Ne-20,Ar-40,Kr-84,Xe,N2,O2";
    DialogTexts dialog;
    Dialog1Texts dialog1;
    bool all = false;
    bool json = false;
    std::string xlsx; // write the window's workbook here instead of printing CSV
    // study
    std::string studyFile;
    std::string sheet; // the workbook's sheet of the study's table; empty: its first
    std::string model = std::string(study::Models().front().key);
    std::string relErr = "0.01";
    // The upper bounds of the models' parameters and the models' constants, by their
    // options ("pr-r-max", "pd-beta"); a former name of an option keeps its own
    // text ("ce-a-max"), read in place of the option's when given.
    std::map<std::string, std::string> upper, constants;
    // The options given by a former name, by their option ("a-max": "ce-a-max").
    std::map<std::string, std::string> spokenAs;
    bool perGram = false;   // the table's concentrations are per gram of water
    bool priorMaat = false; // the lapse-rate prior
    std::string priorOffset = "0", priorSd = "1";
    std::string mc = "0"; // Monte Carlo draws of each sample
    std::string mcSeed = "1";
    std::string mcDraws;                // the file of every draw's fit (CSV)
    std::string threads = "0";          // the most threads a computation uses (0: one per core)
    std::string solubility = "builtin"; // the solubility data set (grid, study)
    std::string ensemble;               // the parameters the members of a group share ("T,E")
};

// The parser of temra-cli with every subcommand and option, filling `o`.
std::unique_ptr<CLI::App> MakeApp(Options& o);

} // namespace temra::cli
