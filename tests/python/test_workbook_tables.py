"""Tables of samples read from workbooks (.xlsx) as laboratories send them,
made by openpyxl and by LibreOffice, through temra-cli and temra.study: the
same numbers as the CSV they hold, and each refusal naming the sheet and cell."""
import csv
import datetime
import os
import subprocess
import warnings

import openpyxl
import pytest

import temra

SOURCE = os.environ["TEMRA_SOURCE"]
CLI = os.environ["TEMRA_CLI"]
SPRINGS = os.path.join(SOURCE, "examples", "springs.csv")
# springs.csv under a title and a blank row, with a row of units under its
# header and a column of remarks, saved by LibreOffice Calc 7.4.
LIBREOFFICE = os.path.join(SOURCE, "tests", "data", "springs_libreoffice.xlsx")


def run_cli(*args):
    return subprocess.run([CLI, "--temp-max", "20", *args], capture_output=True, text=True,
                          check=False)


def springs_rows():
    with open(SPRINGS, encoding="utf-8") as f:
        return list(csv.reader(f))


def lab_workbook(path):
    """springs.csv as a laboratory lays it out: a merged title, a blank row,
    the header, a row of units, the values in scientific format, a remarks
    column with a date in it, and a second sheet."""
    rows = springs_rows()
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.title = "Noble gases"
    sheet.append(["Noble gas laboratory: results of order 2026-117"])
    sheet.merge_cells("A1:F1")
    sheet.append([])
    sheet.append(rows[0] + ["remarks"])
    sheet.append([""] + ["ccSTP/g"] * (len(rows[0]) - 1) + [""])
    for r in rows[1:]:
        sheet.append([r[0]] + [float(x) for x in r[1:]] +
                     [datetime.date(2026, 3, 2) if r[0] == "S3" else "as received"])
    for row in sheet.iter_rows(min_row=5, min_col=2, max_col=len(rows[0])):
        for cell in row:
            cell.number_format = "0.000E+00"
    book.create_sheet("Blanks").append(["sample", "Ne-20", "Ar-40", "Kr-84", "Xe"])
    book.save(path)


def test_a_laboratorys_workbook_gives_the_numbers_of_its_csv(tmp_path):
    path = tmp_path / "lab.xlsx"
    lab_workbook(path)
    want = run_cli("study", SPRINGS)
    for source in (str(path), LIBREOFFICE):
        got = run_cli("study", source)
        assert got.returncode == 0, got.stderr
        assert got.stdout == want.stdout, source
        assert "rows 1 to 2 above the header (row 3) skipped as titles; row 4 read as the " \
               "columns' units" in got.stderr, got.stderr
        assert 'columns not read: "remarks"' in got.stderr
    with warnings.catch_warnings(record=True) as said:
        warnings.simplefilter("always")
        frame = temra.study(path, grid={"temp_max": 20})
    assert list(frame["sample"]) == ["S1", "S2", "S3", "S4", "S5"]
    assert any("skipped as titles" in str(w.message) for w in said)


def test_a_sheet_is_chosen_by_name_and_a_study_workbook_by_its_samples(tmp_path):
    path = tmp_path / "lab.xlsx"
    lab_workbook(path)
    blanks = run_cli("study", str(path), "--sheet", "blanks")
    assert blanks.returncode == 0 and blanks.stdout.count("\n") == 1, blanks.stderr
    missing = run_cli("study", str(path), "--sheet", "Gases")
    assert missing.returncode != 0
    assert missing.stderr.strip().endswith(
        '--sheet: "' + str(path) + '" has no sheet "Gases"; its sheets: "Noble gases", "Blanks"')
    error = pytest.raises(temra.Error, temra.study, path, sheet="Gases").value
    assert error.argument == "sheet"
    # The workbook a study wrote gives its samples again, and with them its numbers.
    results = tmp_path / "results.xlsx"
    assert run_cli("study", SPRINGS, "--model", "ce", "--xlsx", str(results)).returncode == 0
    again = run_cli("study", str(results), "--model", "ce")
    assert again.stdout == run_cli("study", SPRINGS, "--model", "ce").stdout, again.stderr


def refusing_workbook(path, fault):
    book = openpyxl.Workbook()
    sheet = book.active
    sheet.title = "Data"
    sheet.append(["sample", "Ne-20", "Ar-40", "Kr-84", "Xe", "notes"])
    sheet.append(["A", 2.0e-7, 3.8e-4, 5.0e-8, 1.2e-8, "=1/0"])
    sheet.append(["B", 2.1e-7, 3.9e-4, 5.1e-8, 1.3e-8, datetime.date(2026, 1, 5)])
    if fault == "formula":
        sheet["C3"] = "=C2*1.01"
    elif fault == "date":
        sheet["C3"] = datetime.date(2026, 1, 5)
    elif fault == "error":
        sheet["C3"] = "#DIV/0!"
        sheet["C3"].data_type = "e"
    elif fault == "merged":
        sheet.merge_cells("C2:C3")
    book.save(path)


# The faults a workbook can hold, with what the refusal must say.
FAULTS = {
    "formula": 'cell C3 ("Ar-40") of the sheet "Data" of "{path}" holds a formula without a '
               "stored value",
    "date": 'cell C3 ("Ar-40") of the sheet "Data" of "{path}" holds a date (46027)',
    "error": 'cell C3 ("Ar-40") of the sheet "Data" of "{path}" holds the error value #DIV/0!',
    "merged": 'the cells C2:C3 of the sheet "Data" of "{path}" are merged within the table',
    "cut": '"{path}" cannot be read as a workbook: it is damaged',
    "encrypted": '"{path}" is an encrypted workbook, or one of the old .xls format',
}


@pytest.mark.parametrize("fault", FAULTS)
def test_each_fault_of_a_workbook_is_refused_naming_its_sheet_and_cell(fault, tmp_path):
    path = tmp_path / f"{fault}.xlsx"
    refusing_workbook(path, fault)
    if fault == "cut":
        path.write_bytes(path.read_bytes()[:2000])
    if fault == "encrypted":
        path.write_bytes(b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1" + b"\0" * 504)
    got = run_cli("study", str(path))
    assert got.returncode != 0
    assert FAULTS[fault].format(path=path) in got.stderr, got.stderr
    error = pytest.raises(temra.Error, temra.study, path).value
    assert error.argument == "samples" and FAULTS[fault].format(path=path) in str(error)
    if fault in ("formula", "date", "error"):
        assert (error.row, error.column) == (3, "Ar-40")


def test_values_beside_the_table_are_left_alone(tmp_path):
    path = tmp_path / "fine.xlsx"
    refusing_workbook(path, None)
    got = run_cli("study", str(path))
    assert got.returncode == 0, got.stderr
    assert 'columns not read: "notes"' in got.stderr
