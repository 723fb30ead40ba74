// The texts of the windows' boxes as the computations read them. Each struct holds
// the boxes of one window; a default-made one holds the stored default texts of
// the table of input fields, so the desktop windows and the command-line tool
// start from the same defaults and go through the same conversions.
#pragma once

#include "core/errors.h"
#include "core/fields.h"
#include "core/gas_table.h"

#include <array>
#include <string>

namespace temra {

// The input page (Form1).
struct Form1Texts {
    Form1Texts();                                                // the stored defaults
    std::string Text1, Text2, Text3, Text4, Text5, Text6, Text7; // measured He-4 .. O2
    std::string Text14;                                          // density of water
    std::string Text15;                                          // chloride
    std::string Text18;  // sampling elevation; not read by any computation
    std::string Text19;  // highest elevation
    std::string Text25;  // elevation step
    std::string Text21;  // highest temperature
    std::string Text26;  // temperature step
    std::string Text20;  // a of H = aT + b
    std::string Text22;  // b of H = aT + b
    bool Check1 = false; // "Tick to use MAAT equation"

    // The measured-value box of gas index g.
    const std::string& Measured(int g) const;
    std::string& Measured(int g);
};

// The excess-air range dialog of the best fit (Dialog).
struct DialogTexts {
    DialogTexts(); // the stored defaults
    DialogTexts(std::string min, std::string max, std::string step);
    std::string Text17; // Min
    std::string Text23; // Max
    std::string Text24; // Step
};

// The gas-pair range dialog (Dialog1).
struct Dialog1Texts {
    Dialog1Texts(); // the stored defaults
    Dialog1Texts(std::string eaMin, std::string eaMax, std::string eaStep, std::string tempMin,
                 std::string tempMax, std::string tempStep);
    std::string Text1; // excess air Min
    std::string Text2; // excess air Max
    std::string Text3; // excess air Step
    std::string Text4; // temperature Min
    std::string Text5; // temperature Max
    std::string Text6; // temperature Step
};

// The gas-pair selection window (Form2): Check1 to Check7, by gas index.
struct Form2Ticks {
    std::array<bool, GasCount> Check{};
};

} // namespace temra
