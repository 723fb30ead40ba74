#!/usr/bin/env python3
"""Prints the named columns of a CSV table (temra-cli's output) as aligned text,
numbers rounded to a few significant digits, an empty cell as "-":

    temra-cli study examples/springs.csv | python3 examples/columns.py sample chi2 p

--digits N sets the significant digits (3 unless given). A column the table
lacks is an error that names it."""
import csv
import sys


def rounded(text, digits):
    try:
        value = float(text)
    except ValueError:
        return text or "-"
    shown = f"{value:.{digits}g}"
    # Positional where the exponent is small, as a reader writes it by hand.
    if "e" in shown and 1e-4 <= abs(value) < 1e6:
        shown = f"{float(shown):f}".rstrip("0").rstrip(".")
    return shown


def main(argv):
    digits = 3
    if len(argv) > 1 and argv[0] == "--digits":
        digits, argv = int(argv[1]), argv[2:]
    rows = list(csv.reader(sys.stdin))
    if not rows or not argv:
        sys.exit("columns.py: give the columns to print and the table on standard input")
    header = rows[0]
    missing = [name for name in argv if name not in header]
    if missing:
        sys.exit("columns.py: the table has no column " + ", ".join(missing))
    picks = [header.index(name) for name in argv]
    table = [argv] + [[rounded(r[i] if i < len(r) else "", digits) for i in picks]
                      for r in rows[1:]]
    widths = [max(len(r[k]) for r in table) for k in range(len(picks))]
    for r in table:
        print("  ".join(cell.ljust(w) for cell, w in zip(r, widths)).rstrip())


try:
    main(sys.argv[1:])
except BrokenPipeError:  # a reader such as head stopped reading
    sys.stderr.close()
