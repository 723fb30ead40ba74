"""Reads the workbooks temra-cli writes back with openpyxl, an independent reader,
and checks sheet names, headers, number and text cells, values, widths and
alignments against the command's own CSV output."""
import csv
import io
import math
import os
import shutil
import resource
import subprocess
import sys

import openpyxl

CLI = sys.argv[1]
WORK = sys.argv[2]
shutil.rmtree(WORK, ignore_errors=True)
os.makedirs(WORK)
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def run(*args):
    return subprocess.run([CLI, *args], capture_output=True, text=True, check=False)


def csv_rows(*args):
    result = run(*args)
    assert result.returncode == 0, result.stderr
    return list(csv.reader(io.StringIO(result.stdout)))[1:]


def workbook(name, *args):
    path = os.path.join(WORK, name)
    result = run(*args, "--xlsx", path)
    assert result.returncode == 0, result.stderr
    return openpyxl.load_workbook(path)


def width(ws, column):
    """openpyxl groups equal adjacent columns under the first letter's key."""
    for dim in ws.column_dimensions.values():
        if dim.min <= column <= dim.max:
            return dim.width
    return None


def settings_of(wb):
    return {row[0].value: row[1].value for row in wb["Settings"].iter_rows(min_row=2)}


def check_settings(wb, expected):
    """The second sheet lists what the run was made from, as typed."""
    ws = wb["Settings"]
    check([ws["A1"].value, ws["B1"].value] == ["Setting", "Value"], f"{wb.sheetnames} Settings head")
    got = settings_of(wb)
    version = subprocess.run([CLI, "--version"], capture_output=True, text=True).stdout.split()[-1]
    check(got.get("Temra version") == version, f"version {got.get('Temra version')} {version}")
    check("Date" in got, "Settings without a date")
    for key, value in expected.items():
        check(got.get(key) == value, f"{wb.sheetnames[0]} Settings {key}: {got.get(key)!r}")


def same(a, b):
    # libxlsxwriter writes numbers with 16 significant digits.
    return a == b or math.isclose(a, b, rel_tol=2e-16 * 8, abs_tol=0)


SCIENTIFIC = "0.000000E+00"


def check_format(ws, letter, column, rows, expected):
    for row in rows:
        cell = ws.cell(row=row, column=column)
        if isinstance(cell.value, (int, float)):
            check(cell.number_format == expected,
                  f"{ws.title} {letter}{row}: number format {cell.number_format}")


def check_column(ws, letter, column, rows, expected_width, horizontal):
    w = width(ws, column)
    if expected_width is None:
        check(w is None or abs(w - 9.14) < 0.01, f"{ws.title} {letter}: width {w}")
    else:
        check(w is not None and abs(w - (expected_width + 0.71)) < 0.01,
              f"{ws.title} {letter}: width {w}")
    for row in rows:
        cell = ws.cell(row=row, column=column)
        if cell.value is None:
            continue
        check(cell.alignment.horizontal == horizontal and cell.alignment.vertical == "center",
              f"{ws.title} {letter}{row}: alignment {cell.alignment.horizontal}/"
              f"{cell.alignment.vertical}")


# "NG Solubility"
wb = workbook("ng.xlsx", "grid")
ws = wb["NG Solubility"]
check(wb.sheetnames == ["NG Solubility", "Settings"], f"sheets {wb.sheetnames}")
check_settings(wb, {"Equilibrium Elevation Range (m) Max": "3000", "Helium-4 (cm³ STP/cm³ H2O)":
                    "4.87138E-08", "Tick to use MAAT equation": "not ticked",
                    "Grid cases": "341"})
check(ws.max_row == 343, f"NG Solubility rows {ws.max_row}")
headers = ["Elevation (m)", "Temperature (oC)", "He-4", "Ne-20", "Ar-40", "Kr-84", "Xe",
           "N-28", "O-32", "cm3STP/gH2O"]
check([c.value for c in ws[1]] == headers, f"headers {[c.value for c in ws[1]]}")
measured = [4.87138E-08, 1.99793E-07, 4.78E-04, 7.73522E-08, 1.595E-08, 1.66E-02, 2.077E-5]
row2 = [c.value for c in ws[2]]
check(row2[0] is None and row2[1] is None, "A2 and B2 are empty")
check(row2[2:9] == measured, f"measured row {row2[2:9]}")
check(row2[9] == "<< Observed data", f"J2 {row2[9]}")
grid = csv_rows("grid")
for i, line in enumerate(grid):
    cells = [c.value for c in ws[i + 3]][:9]
    check(all(isinstance(v, (int, float)) for v in cells), f"row {i + 3} holds a text")
    check(all(same(v, float(e)) for v, e in zip(cells, line[1:])), f"row {i + 3}: {cells}")
for col, letter in enumerate("ABCDEFGHI", start=1):
    # The gas columns are as wide as their scientific format needs.
    check_column(ws, letter, col, range(1, 344), 20 if letter in "AB" else 14, "center")
check_column(ws, "J", 10, [1, 2], 20, "left")
for col, letter in enumerate("CDEFGHI", start=3):
    check_format(ws, letter, col, range(2, 344), SCIENTIFIC)
check_format(ws, "A", 1, range(3, 344), "General")

wb = workbook("ng_empty.xlsx", "grid", "--maat", "--elev-max", "800")
ws = wb["NG Solubility"]
check(ws.max_row == 2, f"a run without cases: {ws.max_row} rows")

# "Difference Results"
wb = workbook("diff.xlsx", "fit", "--all")
ws = wb["Difference Results"]
check(wb.sheetnames == ["Difference Results", "Settings"], f"sheets {wb.sheetnames}")
check_settings(wb, {"Gases compared": "He-4;Ne-20;Ar-40;Kr-84;Xe;N2;O2", "Grid cases": "341"})
check(ws.max_row == 343 and ws.max_column == 3, f"Difference Results {ws.max_row}x{ws.max_column}")
check([c.value for c in ws[1]] == ["Recharge Elevation", "Recharge Temperature", "Difference"],
      "Difference Results headers")
check([c.value for c in ws[2]] == ["m", "oC", "cm3STP/gH2O"], "Difference Results units")
for i, line in enumerate(csv_rows("fit", "--all")):
    cells = [c.value for c in ws[i + 3]]
    check(all(same(v, float(e)) for v, e in zip(cells, line[1:])), f"row {i + 3}: {cells}")
for col, letter in enumerate("ABC", start=1):
    check_column(ws, letter, col, range(1, 344), 20, "center")
check_format(ws, "C", 3, range(3, 344), SCIENTIFIC)
check_format(ws, "B", 2, range(3, 344), "General")
# A density of 0 would make every concentration 0: refused, with no file.
path = os.path.join(WORK, "diff_density0.xlsx")
result = run("fit", "--all", "--density", "0", "--xlsx", path)
check(result.returncode == 2 and "--density" in result.stderr, f"density 0: {result.stderr}")
check(not os.path.exists(path), "no file for a refused run")

# "Selected Results"
gases = ["--gases", "Ne-20,Ar-40,Kr-84,Xe"]
wb = workbook("sel.xlsx", "fit-ea", *gases)
ws = wb["Selected Results"]
check(wb.sheetnames == ["Selected Results", "Settings"], f"sheets {wb.sheetnames}")
check_settings(wb, {"Gases compared": "Ne-20;Ar-40;Kr-84;Xe", "Excess Air Min (cm³ STP/g H2O)":
                    "0.001", "Excess Air Step (cm³ STP/g H2O)": "0.001",
                    "Trial amounts of excess air": "49"})
check(ws.max_row == 492 and ws.max_column == 4, f"Selected Results {ws.max_row}x{ws.max_column}")
check([c.value for c in ws[1]] == ["Recharge Elevation", "Recharge Temperature", "Excess Air",
                                   "Difference"], "Selected Results headers")
check([c.value for c in ws[2]] == ["m", "oC", "cm3 STP/g H2O", "cm3 STP/g H2O"],
      "Selected Results units")
rows = csv_rows("fit-ea", *gases)
check(len(rows) == 490, f"{len(rows)} CSV rows")
for i, line in enumerate(rows):
    cells = [c.value for c in ws[i + 3]]
    # Single-precision values are written as their shortest decimal: what the
    # program prints, not 0.00100000004749745.
    expected = [float(line[4]), float(line[5]), float(line[1]), float(line[6])]
    check(all(same(v, e) for v, e in zip(cells, expected)), f"row {i + 3}: {cells} {expected}")
for block in range(49):
    values = {ws.cell(row=3 + block * 10 + k, column=3).value for k in range(10)}
    check(len(values) == 1, f"excess air varies within block {block + 1}")
for col, letter in enumerate("ABCD", start=1):
    check_column(ws, letter, col, range(1, 493), 20, "center")
check_format(ws, "D", 4, range(3, 493), SCIENTIFIC)
check_format(ws, "C", 3, range(3, 493), "General")
check(ws["C3"].value == 0.001 and ws["C483"].value == 0.049,
      f"excess air {ws['C3'].value!r} {ws['C483'].value!r}")

# "Study Results" and its "Settings"
samples = os.path.join(WORK, "samples.csv")
with open(samples, "w") as f:
    f.write("sample,Ne-20,Ar-40,Kr-84,Xe\n"
            "a,2.390923811434094e-07,0.00038249591924833734,4.918371964418566e-08,"
            "1.2297883852476508e-08\n"
            "b,abc,0.00038,4.9e-08,1.2e-08\n")
path = os.path.join(WORK, "study.xlsx")
result = run("study", samples, "--model", "ce", "--xlsx", path)
check(result.returncode == 1, f"study: exit {result.returncode} {result.stderr}")
wb = openpyxl.load_workbook(path)
check(wb.sheetnames == ["Study Results", "Settings", "Samples"], f"study sheets {wb.sheetnames}")
ws = wb["Study Results"]
expected = run("study", samples, "--model", "ce")
csv_lines = list(csv.reader(io.StringIO(expected.stdout)))
# The CSV's columns in its order; those no row fills (another model's parameter,
# a gas beyond the fit) are left out of the sheet, and each printed page repeats
# the header row and the sample column.
header = [c.value for c in ws[1]]
check(header == [name for name in csv_lines[0] if name in header], f"study header {header}")
check(header[:3] == ["sample", "model", "gases"] and "pressure_factor" not in header and
      len(header) < len(csv_lines[0]), f"study header {header}")
check(ws.max_row == 3, f"study rows {ws.max_row}")
check(ws.page_setup.orientation == "landscape" and ws.print_title_rows == "$1:$1" and
      ws.print_title_cols == "$A:$A" and ws.sheet_properties.pageSetUpPr.fitToPage,
      f"study page {ws.page_setup.orientation} {ws.print_title_rows} {ws.print_title_cols}")
for r, line in enumerate(csv_lines[1:], start=2):
    for name, text in zip(csv_lines[0], line):
        if name not in header:
            check(text == "", f"study {r},{name}: {text!r} left out")
            continue
        value = ws.cell(row=r, column=header.index(name) + 1).value
        if text == "":
            check(value is None, f"study {r},{name}: {value!r} for an empty field")
        else:
            try:
                number = float(text)
                check(isinstance(value, (int, float)) and same(value, number),
                      f"study {r},{name}: {value!r} for {text}")
            except ValueError:
                check(value == text, f"study {r},{name}: {value!r} for {text!r}")
page = wb["Settings"]
# One page: fitted 1 wide and 1 tall (the file's default when it names neither).
check(page.sheet_properties.pageSetUpPr.fitToPage and
      page.page_setup.fitToWidth in (None, 1) and page.page_setup.fitToHeight in (None, 1),
      f"Settings page {page.page_setup.fitToWidth} x {page.page_setup.fitToHeight}")
settings = settings_of(wb)
check_settings(wb, {"Model": "CE (closed-system equilibration: C = Ceq + (1 - F) A z / "
                             "(1 + F A z / Ceq), 0 <= A <= the largest A, 0 <= F <= 1)"})
for key in ("Temra version", "Date", "Samples", "Model", "Largest A, cm³ STP/g (--a-max)", "Gases",
            "Equilibrium Elevation Range (m) Max", "Tick to use MAAT equation"):
    check(key in settings, f"Settings lacks {key}: {list(settings)}")
check(settings.get("Gases") == "Ne-20;Ar-40;Kr-84;Xe", f"Settings gases {settings.get('Gases')}")
# The samples as read, third, under the names of a table of samples.
ws = wb["Samples"]
check([c.value for c in ws[1]][:6] == ["sample", "He-4", "Ne-20", "Ar-40", "Kr-84", "Xe"] and
      ws.max_column == 19 and ws.max_row == 3, f"Samples {[c.value for c in ws[1]]}")
check(ws["A2"].value == "a" and same(ws["C2"].value, 2.390923811434094e-07) and
      ws["C3"].value == "abc", f"Samples cells {[c.value for c in ws[2]]}")
check_format(ws, "C", 3, [2], SCIENTIFIC)  # gases and their errors as concentrations

# Every solubility data set, with GR: a row per set of each sample, the set and
# its shifts against builtin after the flags, and each set in the Settings.
path = os.path.join(WORK, "study_all.xlsx")
result = run("study", samples, "--model", "gr", "--solubility", "all", "--xlsx", path)
check(result.returncode == 1, f"study all: exit {result.returncode} {result.stderr}")
wb = openpyxl.load_workbook(path)
ws = wb["Study Results"]
header = [c.value for c in ws[1]]
check(header[-4:] == ["solubility", "dT_vs_builtin_C", "dE_vs_builtin_m", "dA_vs_builtin"] and
      "relaxation" in header and ws.max_row == 7, f"study all {header} {ws.max_row}")
column = header.index("solubility") + 1
check([ws.cell(row=r, column=column).value for r in range(2, 5)] ==
      ["builtin", "weiss", "jenkins2019"], "study all: the sets in the table's order")
check(ws.cell(row=2, column=column + 1).value == 0 and
      isinstance(ws.cell(row=3, column=column + 1).value, float), "study all: the shifts")
settings = settings_of(wb)
for key in ("Solubility data builtin", "Solubility data weiss", "Solubility data jenkins2019",
            "Solubility data compared", "Largest F (--gr-f-max)", "Exponent β of GR (--gr-beta)"):
    check(key in settings, f"Settings lacks {key}: {list(settings)}")

# A table longer than a sheet: refused, with nothing left behind.
path = os.path.join(WORK, "too_long.xlsx")
result = run("grid", "--elev-step", "1", "--temp-max", "30", "--temp-step", "0.05",
             "--xlsx", path)
check(result.returncode != 0 and "1,048,574" in result.stderr, f"too long: {result.stderr}")
check(not os.path.exists(path), "no file for a refused export")
check(not [f for f in os.listdir(WORK) if f.endswith(".part")], "temporary files left behind")

# A file system that runs full while a workbook is written (a file-size limit
# here): the export fails with a message, and nothing is left under the final
# name, nor any temporary file.
def limited(kib):
    return lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (kib * 1024, kib * 1024))


for kib in (8, 20, 60):
    path = os.path.join(WORK, f"full_{kib}.xlsx")
    result = subprocess.run([CLI, "grid", "--xlsx", path], capture_output=True, text=True,
                            check=False, preexec_fn=limited(kib))
    check(result.returncode == 1, f"{kib} KiB: exit {result.returncode}")
    check("could not be written" in result.stderr and result.stderr.count("\n") == 1,
          f"{kib} KiB: {result.stderr!r}")
    check(not os.path.exists(path), f"{kib} KiB: a file under the final name")
check(not [f for f in os.listdir(WORK) if f.endswith(".part")], "temporary files left behind")

for f in failures:
    print("FAIL:", f)
print(f"{len([f for f in os.listdir(WORK) if f.endswith('.xlsx')])} workbooks checked; "
      f"{len(failures)} failures")
sys.exit(1 if failures else 0)
