// Helpers shared by the core tests.
#pragma once

#include "core/module1.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace temra::test {

// True when `actual` rounds to `expected` at the digits `expected` is written with
// ("4.693e-8" checks four significant digits, "0.0061078" five).
inline ::testing::AssertionResult MatchesDigits(double actual, const std::string& expected) {
    const double e = std::strtod(expected.c_str(), nullptr);
    std::string mantissa = expected.substr(0, expected.find_first_of("eE"));
    int decimals = 0;
    if (auto dot = mantissa.find('.'); dot != std::string::npos)
        decimals = static_cast<int>(mantissa.size() - dot - 1);
    int exponent = 0;
    if (auto ePos = expected.find_first_of("eE"); ePos != std::string::npos)
        exponent = std::atoi(expected.c_str() + ePos + 1);
    const double halfUnit = 0.5 * std::pow(10.0, exponent - decimals);
    if (std::fabs(actual - e) <= halfUnit * (1 + 1e-12)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << actual << " does not round to " << expected << " (tolerance " << halfUnit << ")";
}

// The ranking's ten passes over one list of deviations, written out literally,
// for comparison with the streaming ranking.
struct LiteralRanking {
    std::vector<double> rms;
    std::vector<CaseNumber> cases;
};

inline void LiteralTenPasses(std::vector<double> fitRms, double& runMin, CaseNumber& runMinCase,
                             std::vector<double>& bestRms, std::vector<CaseNumber>& bestCase) {
    runMin = 10000;
    for (int k = 1; k <= 10; ++k) {
        for (std::size_t i = 1; i <= fitRms.size(); ++i)
            if (fitRms[i - 1] < runMin) {
                runMin = fitRms[i - 1];
                runMinCase = static_cast<CaseNumber>(i);
            }
        bestRms.push_back(runMin);
        bestCase.push_back(runMinCase);
        runMin = 10000;
        if (runMinCase >= 1 && runMinCase <= static_cast<CaseNumber>(fitRms.size()))
            fitRms[static_cast<std::size_t>(runMinCase - 1)] = 10000;
    }
}

inline Form1Texts Defaults() {
    return Form1Texts{};
}

// What an operation raised: the error number, the box named, and the detail; code
// 0 when it completed.
struct Raised {
    int code = 0;
    bool Is(ErrorNumber number) const { return code == static_cast<int>(number); }
    std::string window;
    std::string control;
    std::string detail;
};

template <typename Fn> Raised RaisedBy(Fn&& operation) {
    try {
        operation();
    } catch (const TemraError& e) {
        return {e.code(), e.field().window, e.field().control, e.detail()};
    }
    return {};
}

} // namespace temra::test
