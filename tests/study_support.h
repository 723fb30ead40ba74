// Samples of known truth for the study's tests: made from the solubility model
// itself (not from a grid) with an excess-air model worked out here, with noise.
#pragma once

#include "core/gas_table.h"
#include "core/numtext.h"
#include "core/solubility_model.h"
#include "study/input/samples.h"
#include "study/study_options.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <random>

namespace temra::study {

// D(gas) / D(Ne) at T from the published constants (Jähne et al. 1987; argon
// extrapolated by Hamme; N2, O2 Ferrell & Himmelblau 1967), gas index 0 to 6.
inline double Ratio(std::size_t gas, double T) {
    const double a[] = {818, 1608, 2227, 6393, 9007, 3412, 4286};
    const double ea[] = {11.70, 14.84, 16.68, 20.20, 21.61, 18.50, 18.70};
    return a[gas] / a[1] * std::exp(-(ea[gas] - ea[1]) / (8.314462618e-3 * (T + 273.15)));
}

// A gas's diffusion coefficient in air (cm²/s) at T (°C) and E (m): the
// Chapman-Enskog relation of Poling, Prausnitz & O'Connell 2001 (eq. 11-3.2, p in
// bar, Neufeld's collision integral) with their Lennard-Jones constants (air
// 97.0 K, 3.620 Å), the isotopes' masses, the air pressure of the standard
// atmosphere, gas index 0 to 6.
inline double AirDiffusivity(std::size_t gas, double T, double E) {
    const double mass[] = {4.002603, 19.992440, 39.962383, 83.911498, 131.293, 28.014, 31.998};
    const double eps[] = {10.22, 32.8, 93.3, 178.9, 231.0, 71.4, 106.7};
    const double sigma[] = {2.551, 2.820, 3.542, 3.655, 4.047, 3.798, 3.467};
    const double TK = T + 273.15, bar = 1.01325 * std::pow(1 - 0.0065 * E / 288.16, 5.2561);
    const double Ts = TK / std::sqrt(97.0 * eps[gas]), s = (3.620 + sigma[gas]) / 2;
    const double omega = 1.06036 * std::pow(Ts, -0.15610) + 0.19300 * std::exp(-0.47635 * Ts) +
                         1.03587 * std::exp(-1.52996 * Ts) + 1.76474 * std::exp(-3.89411 * Ts);
    const double M = 2 / (1 / 28.97 + 1 / mass[gas]);
    return 0.00266 * std::pow(TK, 1.5) / (bar * std::sqrt(M) * s * s * omega);
}

// A sample made from recharge at (T, E) with excess air A (fractionated by F),
// each gas times (1 + noise), errors of `rel` of the value: the equilibrium from
// the solubility model itself, not from a grid.
inline Sample Truth(double T, double E, double A, double F, std::array<double, 7> noise = {},
                    double rel = 0.01) {
    Sample s;
    s.name = "truth";
    s.row = 2;
    for (std::size_t i = 0; i < GasCount; ++i) {
        const double C = EvaluateModel(kGasTable[i], T, E, 1, 0, {}).EquilConc;
        const double z = kGasTable[i].AtmFraction;
        const double value = (C + (1 - F) * A * z / (1 + F * A * z / C)) * (1 + noise[i]);
        s.measured[i] = ExactText(value);
        s.error[i] = ExactText(rel * value);
    }
    return s;
}

inline std::array<double, 7> Noise(std::mt19937& rng, double sd) {
    std::normal_distribution<double> n(0, sd);
    std::array<double, 7> v{};
    for (double& x : v) x = n(rng);
    return v;
}

// The exponents of the diffusivity ratio that Jung & Aeschbach 2018 give PR (1)
// and PD (0.5), and of the diffusion coefficient in air that Sun et al. 2008 give
// GR (2/3).
inline double LiteratureBeta(Model model) {
    if (model == Model::GR) return 2.0 / 3.0;
    return model == Model::PD ? 0.5 : 1.0;
}

// The quantity a model fractionates gas i by at (T, E), raised to beta.
inline double Fractionating(Model model, std::size_t i, double T, double E, double beta) {
    return std::pow(model == Model::GR ? AirDiffusivity(i, T, E) : Ratio(i, T), beta);
}

// A sample made with a model at T, E, A and its second parameter x (PR and PD
// fractionating by the ratio to the power beta, GR by the diffusion coefficient in
// air), with 1 % errors.
inline Sample Modelled(Model model, double T, double E, double A, double x,
                       std::array<double, 7> noise = {}, double beta = -1) {
    if (beta < 0) beta = LiteratureBeta(model);
    Sample s;
    s.name = "modelled";
    s.row = 2;
    for (std::size_t i = 0; i < 7; ++i) {
        const double C = EvaluateModel(kGasTable[i], T, E, 1, 0, {}).EquilConc;
        const double z = kGasTable[i].AtmFraction, d = Fractionating(model, i, T, E, beta);
        double v = C + A * z;
        if (model == Model::CE) v = C + (1 - x) * A * z / (1 + x * A * z / C);
        if (model == Model::PR || model == Model::GR) v = C + A * z * std::exp(-x * d);
        if (model == Model::PD) v = (C + A * z) * std::exp(-x * d);
        if (model == Model::OD) v = x * C + A * z;
        s.measured[i] = ExactText(v * (1 + noise[i]));
        s.error[i] = ExactText(0.01 * v);
    }
    return s;
}

} // namespace temra::study
