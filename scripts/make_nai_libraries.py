#!/usr/bin/env python3
"""Writes the CSV sources of the shipped NaI libraries (data/Libraries/*.csv).

Usage: scripts/make_nai_libraries.py GAMMA_LINES_CSV [OUT_DIR]

GAMMA_LINES_CSV is the project's table of evaluated gamma lines (columns
nuclide, half_life_seconds, energy_keV, intensity_percent,
intensity_unc_percent, source): DDEP recommended data (LNE-LNHB, BIPM
Monographie-5) and, for Cs-136 and I-132, ENSDF (NNDC, September 2023).
The rules that turn it into NaI libraries are in docs/libraries.md and are
repeated in the header of each CSV written. Run it again whenever a rule or
the nuclide choice below changes, and commit the CSVs it writes.
"""
import csv
import math
import sys
from collections import defaultdict

LOW_ENERGY_KEV = 40.0          # lines below are left out
RESOLUTION_AT_662 = 0.075      # FWHM / E at 662 keV; FWHM grows as sqrt(E)
MERGE_WITHIN_FWHM = 0.5        # lines closer than this many FWHM make one peak
MIN_YIELD = 0.005              # merged lines below 0.5 % per decay are left out
PEAK_SEARCH_MIN_YIELD = 0.10   # peak-search library: lines of at least 10 %
ANNIHILATION_KEV = 510.999
BI212_ALPHA_BRANCH = 0.3593    # Tl-208 is fed by the alpha branch of Bi-212 (DDEP Bi-212)
RU106_HALF_LIFE_S = 371.5 * 86400  # DDEP Ru-106 evaluation; Ru-106 has no gamma line of its own

DDEP = "DDEP (LNE-LNHB), BIPM-5"
ENSDF = "ENSDF (NNDC, Sep 2023)"

# name: (description, [(nuclide in the table, factor per decay of `name`)], half-life from)
CHAINS = {
    "Ra-226": ("Radium-226 with Pb-214, Bi-214 (equilibrium)",
               [("Ra-226", 1.0), ("Pb-214", 1.0), ("Bi-214", 1.0)], "Ra-226"),
    "Th-232": ("Thorium-232 chain in equilibrium (Ac-228,Tl-208)",
               [("Th-232", 1.0), ("Ac-228", 1.0), ("Th-228", 1.0), ("Ra-224", 1.0),
                ("Pb-212", 1.0), ("Bi-212", 1.0), ("Tl-208", BI212_ALPHA_BRANCH)], "Th-232"),
    "U-238": ("Uranium-238 with Th-234, Pa-234m (equilibrium)",
              [("U-238", 1.0), ("Th-234", 1.0), ("Pa-234m", 1.0)], "U-238"),
    "Ru-106": ("Ruthenium-106 seen through Rh-106", [("Rh-106", 1.0)], None),
    "Ce-144": ("Cerium-144 with Pr-144 (equilibrium)", [("Ce-144", 1.0), ("Pr-144", 1.0)],
               "Ce-144"),
}

ENVIRONMENTAL = ["K-40", "Be-7", "Pb-210", "Ra-226", "Th-232", "U-238", "U-235"]
FALLOUT = ["Cs-134", "Cs-136", "Cs-137", "I-131", "I-132", "I-133", "Te-132", "Ba-140",
           "La-140", "Zr-95", "Nb-95", "Ru-106", "Ce-141", "Ce-144", "Sb-124", "Sb-125",
           "Ag-110m", "Fe-59", "Ar-41"]
MEDICAL = ["Tc-99m", "F-18", "I-123", "Ga-67", "Ga-68", "In-111", "Tl-201", "Lu-177", "Mo-99",
           "Sm-153", "Xe-133", "Ir-192", "Re-186", "Cr-51"]
CALIBRATION = ["Am-241", "Ba-133", "Cd-109", "Co-57", "Co-58", "Co-60", "Mn-54", "Na-22", "Y-88",
               "Sr-85", "Ce-139", "Hg-203", "Sn-113", "Zn-65", "Eu-152", "Bi-207"]
# The shipped analysis library: what a NaI spectrum of an environmental
# sample can hold and a NaI detector can tell apart, and the check sources a
# laboratory counts. Nuclides whose principal line NaI cannot separate from
# a line of these (U-235 at 185.7 keV under Ra-226's 186.2 keV and the
# backscatter peak of Cs-137; Ag-110m and I-132 beside Cs-137's 661.7 keV)
# or that a lab meets only after an accident or in a hospital are left to the
# wide library.
SAMPLES = ["K-40", "Be-7", "Pb-210", "Ra-226", "Th-232", "U-238", "Cs-134", "Cs-137", "I-131",
           "Co-60", "Am-241", "Ba-133", "Cd-109", "Eu-152", "Na-22"]
LOD = ["Be-7", "K-40", "Co-60", "I-131", "Cs-134", "Cs-137", "Ba-140", "La-140", "Zr-95",
       "Nb-95", "Ru-106", "Ce-144", "Te-132", "Ag-110m", "Sb-125", "Am-241", "Ra-226",
       "Th-232", "U-238"]

ELEMENTS = {
    "Ac": "Actinium", "Ag": "Silver", "Am": "Americium", "Ar": "Argon", "Ba": "Barium",
    "Be": "Beryllium", "Bi": "Bismuth", "Cd": "Cadmium", "Ce": "Cerium", "Co": "Cobalt",
    "Cr": "Chromium", "Cs": "Caesium", "Eu": "Europium", "F": "Fluorine", "Fe": "Iron",
    "Ga": "Gallium", "Hg": "Mercury", "I": "Iodine", "In": "Indium", "Ir": "Iridium",
    "K": "Potassium", "La": "Lanthanum", "Lu": "Lutetium", "Mn": "Manganese",
    "Mo": "Molybdenum", "Na": "Sodium", "Nb": "Niobium", "Pb": "Lead", "Re": "Rhenium",
    "Sb": "Antimony", "Sm": "Samarium", "Sn": "Tin", "Sr": "Strontium", "Tc": "Technetium",
    "Te": "Tellurium", "Tl": "Thallium", "U": "Uranium", "Xe": "Xenon", "Y": "Yttrium",
    "Zn": "Zinc", "Zr": "Zirconium",
}

RULES = """\
# NaI rule: lines below 40 keV are left out. Lines of one nuclide that NaI
# cannot resolve make one peak: with FWHM(E) = 0.075 * sqrt(662 * E) keV
# (7.5 % at 662 keV), lines are taken in order of falling yield and one lying
# within half the FWHM of a stronger kept line is added to it (yields and
# variances summed, energy weighted by yield). Lines still below 0.5 % per decay are then left out, and
# a nuclide with no line left is left out. The principal energy is the
# strongest line not within 2 keV of 511 keV (where annihilation radiation
# from any source lands), unless there is no other; the annihilation line of
# beta+ emitters is kept (2 x the beta+ intensity, derived)."""

HEADER = """\
# Kestrim shipped library {title}: {purpose}
# Written by scripts/make_nai_libraries.py from the project's table of
# evaluated gamma lines; change the script, not this file.
# Decay data: DDEP / LNE-LNHB, BIPM Monographie-5 (DDEP recommended data in
# ENSDF format as redistributed in nrc-cnrc/EGSnrc HEN_HOUSE/spectra/lnhb/ensdf,
# commit d9fa8b4946); Cs-136 and I-132: ENSDF (NNDC, September 2023 archive,
# via AaronMHurst/pace_ensdf commit bee5a22fd8). Intensities are photons per
# 100 decays of the named nuclide, held here as fractions per decay.
# Chains in equilibrium carry their progeny's lines per decay of the parent:
# Ra-226 (Pb-214, Bi-214), Th-232 (Ac-228, Th-228, Ra-224, Pb-212, Bi-212 and
# Tl-208 x 0.3593, the Bi-212 alpha branch), U-238 (Th-234, Pa-234m), Ce-144
# (Pr-144); Ru-106 carries the lines of Rh-106 and the DDEP Ru-106 half-life
# of 371.5 d.
{rules}
# Columns: nuclide,name,half_life,unit,principal_keV,description,data_source
#          line,energy_keV,yield,yield_uncertainty  (fractions per decay)
"""


def fwhm(energy):
    return RESOLUTION_AT_662 * math.sqrt(662.0 * energy)


def load_table(path):
    table = defaultdict(list)
    half_life = {}
    source = {}
    with open(path, newline="") as f:
        for row in csv.DictReader(f):
            name = row["nuclide"]
            half_life[name] = float(row["half_life_seconds"])
            unc = row["intensity_unc_percent"]
            table[name].append((float(row["energy_keV"]), float(row["intensity_percent"]) / 100.0,
                                float(unc) / 100.0 if unc else 0.0, row["energy_keV"]))
            source[name] = ENSDF if "ENSDF" in row["source"] else DDEP
    return table, half_life, source


def members(name):
    if name in CHAINS:
        return CHAINS[name][1]
    return [(name, 1.0)]


def description(name):
    if name in CHAINS:
        return CHAINS[name][0]
    element, mass = name.split("-")
    return f"{ELEMENTS[element]}-{mass}"


def nai_lines(name, table):
    """The lines of `name` after the NaI rule: [energy, yield, variance, text]."""
    raw = []
    for member, factor in members(name):
        for energy, y, u, text in table[member]:
            if energy >= LOW_ENERGY_KEV:
                raw.append((energy, y * factor, (u * factor) ** 2, text))
    kept = []  # [energy, yield, variance, text, evaluated energy of the strongest line]
    for energy, y, var, text in sorted(raw, key=lambda l: (-l[1], l[0])):
        near = [k for k in kept if abs(k[4] - energy) < MERGE_WITHIN_FWHM * fwhm(k[4])]
        if near:
            k = min(near, key=lambda k: abs(k[4] - energy))
            total = k[1] + y
            k[0] = (k[0] * k[1] + energy * y) / total
            k[1] = total
            k[2] += var
            k[3] = None  # merged: the energy is no longer an evaluated value
        else:
            kept.append([energy, y, var, text, energy])
    return sorted((k[:4] for k in kept if k[1] >= MIN_YIELD), key=lambda k: k[0])


def principal(lines):
    real = [l for l in lines if abs(l[0] - ANNIHILATION_KEV) > 2.0] or lines
    return max(real, key=lambda l: l[1])


def field(text):
    """A CSV text field, quoted when it holds a comma or a quote."""
    if "," in text or '"' in text:
        return '"' + text.replace('"', '""') + '"'
    return text


def number(v, digits):
    return f"{v:.{digits}g}"


ANALYSIS_RULE = """
# Analysis: the annihilation line (511 keV) is left out of nuclides whose
# principal line lies elsewhere. Pair production of any line above 1022 keV
# and every beta+ emitter give it, so on its own it names nothing (Na-22
# would be named after the 511 keV peak of a Co-60 or thorium count)."""


def without_annihilation(lines, main):
    return [l for l in lines if l is main or abs(l[0] - ANNIHILATION_KEV) > 0.005]


def write_library(path, title, purpose, rules, names, table, half_life, source, select):
    out = [HEADER.format(title=title, purpose=purpose, rules=rules)]
    for name in names:
        lines = nai_lines(name, table)
        if not lines:
            continue
        main = principal(lines)
        lines = select(lines, main)
        src = DDEP if name in CHAINS else source[name]
        hl = RU106_HALF_LIFE_S if name == "Ru-106" else half_life[CHAINS[name][2] if name in CHAINS else name]
        out.append(f"nuclide,{name},{number(hl, 9)},S,{main[3] or f'{main[0]:.2f}'},"
                   f"{field(description(name))},{field(src)}\n")
        for energy, y, var, text in lines:
            out.append(f"line,{text or f'{energy:.2f}'},{number(y, 6)},"
                       f"{number(math.sqrt(var), 4)}\n")
    with open(path, "w", newline="") as f:
        f.write("".join(out))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    out_dir = sys.argv[2] if len(sys.argv) > 2 else "data/Libraries"
    table, half_life, source = load_table(sys.argv[1])
    analysis = SAMPLES
    wide = ENVIRONMENTAL + FALLOUT + MEDICAL + CALIBRATION
    write_library(f"{out_dir}/NaI_Analysis.csv", "NaI_Analysis.lib",
                  "analysis library for NaI(Tl) detectors (environmental samples, the long-lived "
                  "fallout nuclides and the usual check sources)", RULES + ANALYSIS_RULE, analysis,
                  table, half_life, source, without_annihilation)
    write_library(f"{out_dir}/NaI_Wide.csv", "NaI_Wide.lib",
                  "wide library for NaI(Tl) detectors (environmental, fallout, medical and "
                  "calibration nuclides), to say what an unknown source may be",
                  RULES, wide, table, half_life, source, lambda lines, main: lines)
    write_library(f"{out_dir}/NaI_PeakSearch.csv", "NaI_PeakSearch.lib",
                  "peak-search library (the strongest lines)",
                  RULES + ANALYSIS_RULE + "\n# Peak search: of the lines above, the principal line and those of at"
                  "\n# least 10 % per decay.",
                  analysis, table, half_life, source,
                  lambda lines, main: [l for l in without_annihilation(lines, main)
                                       if l[1] >= PEAK_SEARCH_MIN_YIELD or l is main])
    write_library(f"{out_dir}/NaI_LOD.csv", "NaI_LOD.lib",
                  "limit-of-detection library (monitoring nuclides)",
                  RULES + "\n# Limits of detection: the monitoring nuclides, each with its principal"
                  "\n# line only, so that every limit type is given at that line.",
                  LOD, table, half_life, source, lambda lines, main: [main])


if __name__ == "__main__":
    main()
