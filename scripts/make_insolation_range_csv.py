#!/usr/bin/env python3
"""Makes resources/program/insolation_range.csv, the weather's natural range of each region's
insolation, from the MONSOLA-11 extremes.

Source: NEDO 日射量データベース MONSOLA-11, for every site the monthly mean daily global
horizontal irradiation of the sunniest and of the dullest year of 1981-2009 (kWh/m2/day), in
shared/data/monsola11_extremes_kwh.csv (see its README).

Output (UTF-8, LF): one comment line crediting the source, a heading line, then one row per site
number of insolation.csv, in its order:
  0 site code (the region number), 1-12 the dullest year's and 13-24 the sunniest year's
  monthly mean daily global horizontal irradiation (kWh/m2/day, January first).
A site of the region table without extremes, or extremes outside the sane range (a dullest value
above the sunniest, a negative value), stops the script.

usage: make_insolation_range_csv.py [EXTREMES.csv] [REGIONS.csv] [OUT.csv]
"""
import csv
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
DATA = os.path.join(REPO, "..", "shared", "data")
DEFAULT_SOURCE = os.path.join(DATA, "monsola11_extremes_kwh.csv")
DEFAULT_REGIONS = os.path.join(REPO, "resources", "program", "insolation.csv")
DEFAULT_OUT = os.path.join(REPO, "resources", "program", "insolation_range.csv")

MONTHS = ["%02d" % m for m in range(1, 13)]
CREDIT = "# NEDO 日射量データベース MONSOLA-11 (1981-2009): dullest and sunniest year per month"
HEADING = ["site_code"] + ["low_" + m for m in MONTHS] + ["high_" + m for m in MONTHS]


def region_numbers(path):
    """The site numbers of the region table, in its order (CP932, heading line first)."""
    with open(path, "rb") as f:
        lines = f.read().decode("cp932").splitlines()
    return [line.split(",", 1)[0].strip() for line in lines[1:] if line.strip()]


def row_of(code, site):
    low = [float(site["min_" + m]) for m in MONTHS]
    high = [float(site["max_" + m]) for m in MONTHS]
    for m, (lo, hi) in enumerate(zip(low, high), start=1):
        if lo < 0 or hi < lo:
            raise SystemExit("site %s, month %d: dullest %.2f, sunniest %.2f" % (code, m, lo, hi))
    return [code] + ["%.2f" % v for v in low + high]


def main():
    source = sys.argv[1] if len(sys.argv) > 1 else DEFAULT_SOURCE
    regions = sys.argv[2] if len(sys.argv) > 2 else DEFAULT_REGIONS
    out = sys.argv[3] if len(sys.argv) > 3 else DEFAULT_OUT
    with open(source, encoding="utf-8", newline="") as f:
        sites = {s["site_code"].strip(): s for s in csv.DictReader(f)}
    rows = []
    for code in region_numbers(regions):
        if code not in sites:
            raise SystemExit("site %s of %s has no extremes in %s" % (code, regions, source))
        rows.append(row_of(code, sites[code]))
    text = CREDIT + "\n" + "".join(",".join(r) + "\n" for r in [HEADING] + rows)
    with open(out, "w", encoding="utf-8", newline="") as f:
        f.write(text)
    print("%s: %d regions" % (out, len(rows)))


if __name__ == "__main__":
    main()
