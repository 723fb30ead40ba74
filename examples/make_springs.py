#!/usr/bin/env python3
"""Writes examples/springs.csv: five springs made from known recharge parameters.

Each spring's air-equilibrium concentrations come from `temra-cli grid` at its
recharge temperature and elevation (which lie on the MAAT line H = -108 T + 2289
of temra-cli's defaults), plus unfractionated excess air A z, z being each gas's
volume fraction in dry air as Temra's gas table gives it. Spring S4 has
terrigenic He-4 as well. Every value is then drawn from a normal distribution
around the truth with the laboratory's relative 1-sigma error, from a generator
with a fixed seed, and written with four significant digits, as a laboratory
reports it.

    python3 examples/make_springs.py > examples/springs.csv
"""
import csv
import io
import random
import subprocess
import sys

# name, recharge temperature (°C), recharge elevation (m), excess air A
# (cm³ STP/g), terrigenic He-4 (cm³ STP/cm³)
SPRINGS = [
    ("S1", 4.0, 1857, 0.0020, 0.0),
    ("S2", 6.0, 1641, 0.0040, 0.0),
    ("S3", 8.0, 1425, 0.0010, 0.0),
    ("S4", 10.0, 1209, 0.0030, 1.0e-8),
    ("S5", 12.0, 993, 0.0060, 0.0),
]
# gas, its fraction in dry air z, the laboratory's relative 1-sigma error
GASES = [
    ("He-4", 5.239e-6, 0.010),
    ("Ne-20", 1.645e-5, 0.010),
    ("Ar-40", 9.34e-3, 0.010),
    ("Kr-84", 6.48e-7, 0.015),
    ("Xe", 8.7e-8, 0.020),
    ("N2", 0.78084, 0.010),
]


def equilibrium(temperature, elevation):
    """The air-equilibrium concentrations at one grid case, from temra-cli grid."""
    out = subprocess.run(
        ["temra-cli", "--elev-max", str(elevation), "--elev-step", str(elevation),
         "--temp-max", str(temperature), "--temp-step", str(temperature), "grid"],
        check=True, capture_output=True, text=True).stdout
    for row in csv.DictReader(io.StringIO(out)):
        if float(row["elevation_m"]) == elevation and float(row["temperature_C"]) == temperature:
            return {gas: float(row[gas]) for gas, _, _ in GASES}
    sys.exit(f"temra-cli grid gave no case at {temperature} °C and {elevation} m")


def main():
    draw = random.Random(2024)
    writer = csv.writer(sys.stdout, lineterminator="\n")
    writer.writerow(["sample"] + [c for gas, _, _ in GASES for c in (gas, gas + " err")])
    for name, temperature, elevation, excess_air, he_terrigenic in SPRINGS:
        ceq = equilibrium(temperature, elevation)
        row = [name]
        for gas, z, rel in GASES:
            truth = ceq[gas] + excess_air * z + (he_terrigenic if gas == "He-4" else 0)
            measured = truth * (1 + rel * draw.gauss(0, 1))
            row += [f"{measured:.4g}", f"{rel * measured:.2g}"]
        writer.writerow(row)


main()
