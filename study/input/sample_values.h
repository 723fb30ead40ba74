// The numbers of a sample, read from its texts and checked: each value out of its
// range is a problem of its column.
#pragma once

#include "study/input/samples.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace temra::study {

struct Values {
    std::array<double, GasCount> measured{}, sigma{};
    std::array<bool, GasCount> present{}; // a fitted gas with a value (a blank one is left out)
    // A gas not fitted whose cell holds a positive number (with its error): what
    // the results say beyond the fit (terrigenic He, excess N2, ...) is read from
    // it. A cell of an unfitted gas that holds no such number is no fault.
    std::array<bool, GasCount> beyond{};
    float density = 0;
    double chloride = 0;
    std::optional<double> elevation;
};

// A cell that would make its sample an error row, and why (what and where).
struct CellProblem {
    int column;
    std::string what;
};
// The sample's numbers and the grid's boxes are read with the decimal separator
// `separator` ('.' read as well).
std::vector<CellProblem> SampleProblems(const Sample& sample, const StudyOptions& options,
                                        char separator);

// Reads a sample's numbers. Each value out of its range is a problem of its
// column (what and where); with `problems` they are all collected, without it the
// first throws StudyError. The table's numbers and the grid's boxes (the defaults
// of chloride and density) are read as the input page reads its boxes: with the
// program's decimal separator `separator`, '.' read as well, and a text that reads
// two ways refused (temra-cli's separator is '.'). A sample's problem (a row that
// is no sample as the table stands) comes first. With `perGram` the fitted gases'
// values and errors are multiplied by the density as typed (g/cm3).
Values ReadValues(const Sample& s, const StudyOptions& o, char separator,
                  std::vector<CellProblem>* problems = nullptr);

} // namespace temra::study
