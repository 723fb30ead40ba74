// The continuous model of one sample: its equilibrium concentrations at any
// temperature and elevation within the grid's bounds, the excess air that fits
// best there, and the refinement of the best grid case to the continuous best
// with the 1-sigma ranges (the limits of chi2 <= chi2min + 1 on the profile of
// each parameter).
//
// The grid finds the valley; the continuous model answers inside it. For a
// temperature T and elevation E the fitted gases' equilibrium concentrations are
// SX(T) (P(E) - e(T)) / 1000 (core/solubility_model.h), the excess air is
// profiled out by the model's own fit (study/models/models.h), and the profile over (T, E) is
// minimised with Brent's method from Boost.Math around the best grid case. The range of T is found
// by Boost's TOMS 748 root finder on the profile of T, walked out from the grid's chi2 <= chi2min +
// 1 region a step at a time; the ranges of E and of the model's parameters are the extremes of that
// region, sought around the grid cases that reach furthest.
#pragma once

#include "core/gas_table.h"
#include "core/solubility_model.h"
#include "study/models/models.h"
#include "study/study_options.h"

#include <array>
#include <cstddef>

namespace temra::study {

// The excess air that fits best at the fitted gases' equilibrium concentrations C
// at the conditions `at`, by the model's fit; a parameter found by search is found to `bits` bits.
Excess BestExcess(const Fitted& f, const double* C, const Recharge& at, const StudyOptions& o,
                  int bits = 20);

struct Interval {
    double lo = 0, hi = 0;
    bool Empty() const { return !(lo <= hi); }
};

// Where the continuous temperature and elevation may go: 0 to the highest
// temperature and elevation, within the MAAT window when it is ticked.
struct Domain {
    bool tFree = false, eFree = false;
    double t0 = 0, e0 = 0;       // the value of a parameter that is not free
    double tMax = 0, eMax = 0;   // the highest temperature and elevation
    double tStep = 1, eStep = 1; // the grid's steps, positive
    bool maat = false;
    double slope = 1, intercept = 0; // H = slope T + intercept
    Interval T() const;              // every temperature of the domain
    Interval E(double T) const;      // the elevations allowed at T
    Interval TAt(double E) const;    // the temperatures allowed at E
    // At the grid's own ends (0 or the highest), within a millionth of a step.
    bool GridEndT(double T) const;
    bool GridEndE(double E) const;
    // On the MAAT window's edge, 3 °C from the line (not at the grid's ends).
    bool OnWindowEdge(double T, double E) const;
};

// A point of the grid (a case) or of the continuous model.
struct Point {
    double T = 0, E = 0, chi2 = 0, A = 0, second = 0; // second: the model's second parameter
};

// The grid cases of the chi2 <= target region that reach furthest in each
// parameter (lowest and highest T, E, A, the second parameter); `found` is false
// when no case is in it.
struct RegionSeeds {
    bool found = false;
    // The cases themselves, by what they reach furthest in.
    enum Reach : std::size_t {
        kLeastT,
        kMostT,
        kLeastE,
        kMostE,
        kLeastA,
        kMostA,
        kLeastSecond,
        kMostSecond,
        kReaches
    };
    std::array<Point, kReaches> extreme{};
    void Add(const Point& p);
};

struct Ranges {
    Interval T, E, A, second;
    bool cutT = false, cutE = false; // a limit lies at the grid's end
    bool cutWindow = false;          // a limit lies on the MAAT window's edge
};

// The sample's continuous model.
class MisfitSurface {
  public:
    // `options` (the model and its bounds) must outlive the model.
    MisfitSurface(const Fitted& fitted, float density, double chloride, const Domain& domain,
                  const StudyOptions& options);

    // The continuous best near the best grid case (never worse than it).
    Point Best(const Point& gridBest) const;
    // The 1-sigma ranges around `best`, from the grid's region seeds.
    Ranges RangesOf(const Point& best, const RegionSeeds& seeds) const;
    // The misfit and excess air at (T, E).
    Point At(double T, double E) const;
    // The ranges of A and the second parameter at (T, E) held fixed: the limits of
    // chi2 <= chi2(at) + 1 over the excess air alone (`at` from At).
    Ranges ExcessRangesAt(const Point& at) const;
    // A's distribution at (T, E) with the excess air integrated out (the model's
    // integral); empty for a model without one.
    AMixture MixtureAt(double T, double E) const;

    // The model as a surface of the valley's search (study/fit/profile_search.h): a
    // temperature's factors of the fitted gases, and the misfit at an elevation.
    struct Slice {
        double T = 0;
        TemperatureFactors factors;
    };
    Slice SliceAt(double T) const;
    double Chi2(const Slice& s, double E) const;

  private:
    // The fitted gases' equilibrium concentrations at the slice's temperature and the
    // air pressure P (atm) of an elevation.
    std::array<double, GasCount> ConcAt(const Slice& s, double P) const;
    Excess ExcessAt(const Slice& s, double E) const;
    double ExtremeAF(const Slice& s, double E, double target, Extreme which) const;
    double ExtremeOfExcess(const Point& best, const Point& seed, const Interval& T,
                           const Interval& E, Extreme which) const;

    const Fitted& f_;
    float density_;
    double chloride_;
    Domain d_;
    const StudyOptions& o_;
    const ModelInfo& model_;
    ModelFields fields_; // the boxes a fault of the model is laid to
    FieldRef elevField_;
};

} // namespace temra::study
