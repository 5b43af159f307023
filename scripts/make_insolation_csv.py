#!/usr/bin/env python3
"""Makes the region table resources/program/insolation.csv from the MONSOLA-11 site figures.

Source: NEDO 日射量データベース MONSOLA-11 (monthly mean daily irradiation, 1981-2009), one row
per site with the columns described in shared/data/README.md.

Output (CP932, CRLF): a heading line, then one row per site:
  0 site code (the region number), 1 site name, 2 prefecture code (two digits),
  3 prefecture name, 4-7 latitude and longitude in degrees and minutes,
  8-19 global and 20-31 diffuse horizontal irradiation (kWh/m2/day, January first),
  32-43 percentage of days with 10 cm of snow or more (the albedo weights).
Every field is non-empty: the table readers treat an empty field as the end of the row.

usage: make_insolation_csv.py [SOURCE.csv] [OUT.csv]
"""
import csv
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
DEFAULT_SOURCE = os.path.join(REPO, "..", "shared", "data", "monsola11_sites_kwh.csv")
DEFAULT_OUT = os.path.join(REPO, "resources", "program", "insolation.csv")

MONTHS = ["%02d" % m for m in range(1, 13)]
HEADING = (
    ["地域番号", "地域名", "都道府県コード", "都道府県名", "緯度(度)", "緯度(分)", "経度(度)", "経度(分)"]
    + ["全天日射量%d月" % m for m in range(1, 13)]
    + ["散乱日射量%d月" % m for m in range(1, 13)]
    + ["積雪率%d月" % m for m in range(1, 13)]
)


def row_of(site):
    fields = [site["site_code"], site["site_name"], "%02d" % int(site["pref_code"]), site["pref_name"],
              site["lat_deg"], site["lat_min"], site["lon_deg"], site["lon_min"]]
    fields += [site["global_" + m] for m in MONTHS]
    fields += [site["diffuse_" + m] for m in MONTHS]
    fields += [site["snow10cm_pct_" + m] for m in MONTHS]
    fields = [f.strip() for f in fields]
    for f in fields:
        if not f or "," in f or '"' in f:
            raise SystemExit("site %s: field %r cannot be stored" % (site["site_code"], f))
    if int(fields[0]) <= 0:
        raise SystemExit("site %s: the region number must be positive" % fields[0])
    return fields


def main():
    source = sys.argv[1] if len(sys.argv) > 1 else DEFAULT_SOURCE
    out = sys.argv[2] if len(sys.argv) > 2 else DEFAULT_OUT
    with open(source, encoding="utf-8", newline="") as f:
        sites = list(csv.DictReader(f))
    rows = [row_of(s) for s in sites]
    numbers = [r[0] for r in rows]
    if len(set(numbers)) != len(numbers):
        raise SystemExit("duplicate site codes in %s" % source)
    text = "".join(",".join(r) + "\r\n" for r in [HEADING] + rows)
    with open(out, "wb") as f:
        f.write(text.encode("cp932"))
    print("%s: %d regions" % (out, len(rows)))


if __name__ == "__main__":
    main()
