// The texts of the windows' boxes as the computations read them. Each struct holds
// the boxes of one window with their stored default texts, so the desktop windows
// and the command-line tool start from the same defaults and go through the same
// conversions.
#pragma once

#include "core/errors.h"
#include "core/gas_table.h"

#include <array>
#include <string>

namespace temra {

// The input page (Form1).
struct Form1Texts {
    std::string Text1 = "4.87138E-08"; // measured He-4
    std::string Text2 = "1.99793E-07"; // measured Ne-20
    std::string Text3 = "4.78E-04";    // measured Ar-40
    std::string Text4 = "7.73522E-08"; // measured Kr-84
    std::string Text5 = "1.595E-08";   // measured Xe
    std::string Text6 = "1.66E-02";    // measured N2
    std::string Text7 = "2.077E-5";    // measured O2
    std::string Text14 = "1";          // density of water
    std::string Text15 = "0";          // chloride
    std::string Text18 = "1000";       // sampling elevation; not read by any computation
    std::string Text19 = "3000";       // highest elevation
    std::string Text25 = "100";        // elevation step
    std::string Text21 = "10";         // highest temperature
    std::string Text26 = "1";          // temperature step
    std::string Text20 = "-108";       // a of H = aT + b
    std::string Text22 = "2289";       // b of H = aT + b
    bool Check1 = false;               // "Tick to use MAAT equation"

    // The measured-value box of gas index g (1 to 7).
    const std::string& Measured(int g) const;
    std::string& Measured(int g);
};

// The excess-air range dialog of the best fit (Dialog).
struct DialogTexts {
    std::string Text17 = "0.001"; // Min
    std::string Text23 = "0.05";  // Max
    std::string Text24 = "0.001"; // Step
};

// The gas-pair range dialog (Dialog1).
struct Dialog1Texts {
    std::string Text1 = "0";    // excess air Min
    std::string Text2 = "0.05"; // excess air Max
    std::string Text3 = "0.01"; // excess air Step
    std::string Text4 = "0";    // temperature Min
    std::string Text5 = "30";   // temperature Max
    std::string Text6 = "5";    // temperature Step
};

// The gas-pair selection window (Form2): Check1 to Check7, index 0 = gas 1.
struct Form2Ticks {
    std::array<bool, GasCount> Check{};
};

// The fields the computations name in their errors.
namespace fields {
FieldRef Form1(const std::string& control);
FieldRef Dialog(const std::string& control);
FieldRef Dialog1(const std::string& control);
FieldRef Form2Selection();
FieldRef SolGraphSelection();
FieldRef Grid();
} // namespace fields

} // namespace temra
