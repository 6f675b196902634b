#!/usr/bin/python3
"""Plots the peak accuracy table: area bias and pull spread per scenario line.

Reads the output of build/bench/peak_accuracy (the aligned table or its
--csv form) and writes a PNG, by default docs/accuracy-peaks.png:

    build/bench/peak_accuracy 100 --csv > /tmp/accuracy.csv
    /usr/bin/python3 bench/plot_accuracy.py /tmp/accuracy.csv [-o docs/accuracy-peaks.png]

Needs matplotlib from Debian (not part of scripts/install-deps.sh):

    apt-get install python3-matplotlib

Run it with Debian's /usr/bin/python3 when another python3 comes first on
the PATH. Lines whose peak was never found are drawn as grey crosses at 0;
biases beyond the axis are drawn at its end with their value written beside.
"""

import argparse
import csv
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

BIAS_LIMIT = 25.0  # per cent shown on the bias axis


def read_rows(path):
    with open(path, newline="") as f:
        text = f.read()
    lines = [line for line in text.splitlines() if line.strip()]
    if not lines:
        sys.exit(f"{path}: empty")
    if "," in lines[0]:
        rows = list(csv.reader(lines))
    else:
        rows = [line.split() for line in lines]
    header, body = rows[0], rows[1:]
    need = ["scenario", "line_kev", "found_pct", "bias_pct", "pull_sd"]
    missing = [n for n in need if n not in header]
    if missing:
        sys.exit(f"{path}: no column {', '.join(missing)}")
    return [dict(zip(header, r)) for r in body]


def number(text):
    return None if text in ("-", "") else float(text)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("table", help="output of peak_accuracy (table or --csv)")
    ap.add_argument("-o", "--output", default="docs/accuracy-peaks.png")
    ap.add_argument("--title", default="Peak area accuracy on simulated NaI spectra")
    args = ap.parse_args()

    rows = read_rows(args.table)
    labels = [f"{r['scenario']} @ {float(r['line_kev']):g} keV ({float(r['found_pct']):g}% found)" for r in rows]
    y = list(range(len(rows)))[::-1]

    fig, (ax_bias, ax_pull) = plt.subplots(
        1, 2, sharey=True, figsize=(11, 0.24 * len(rows) + 1.6), gridspec_kw={"width_ratios": [3, 2]}
    )
    for yi, r in zip(y, rows):
        bias, pull_sd = number(r["bias_pct"]), number(r["pull_sd"])
        if bias is None:
            ax_bias.plot(0, yi, "x", color="grey")
            ax_pull.plot(0, yi, "x", color="grey")
            continue
        shown = max(-BIAS_LIMIT, min(BIAS_LIMIT, bias))
        colour = "tab:red" if abs(bias) > 5 else "tab:blue"
        ax_bias.barh(yi, shown, color=colour, height=0.7)
        if shown != bias:
            ax_bias.text(shown, yi, f" {bias:+.0f}% ", va="center", ha="right" if bias > 0 else "left",
                         fontsize=7, color="white")
        if pull_sd is not None:
            ax_pull.barh(yi, pull_sd, color="tab:orange" if abs(pull_sd - 1) > 0.3 else "tab:green", height=0.7)
    ax_bias.set_yticks(y)
    ax_bias.set_yticklabels(labels, fontsize=7)
    ax_bias.set_xlim(-BIAS_LIMIT, BIAS_LIMIT)
    ax_bias.axvline(0, color="black", lw=0.8)
    for v in (-5, 5):
        ax_bias.axvline(v, color="grey", lw=0.5, ls=":")
    ax_bias.set_xlabel("area bias, % of true area (red: beyond 5 %)")
    ax_pull.axvline(1, color="black", lw=0.8)
    ax_pull.set_xlabel("pull sd of (fitted - true) / reported sigma\n(1: uncertainties right; orange: off by > 0.3)")
    ax_pull.set_xlim(0, max(2.0, max((number(r["pull_sd"]) or 0) for r in rows) * 1.05))
    for ax in (ax_bias, ax_pull):
        ax.grid(axis="x", lw=0.3)
        ax.set_ylim(-0.7, len(rows) - 0.3)
    fig.suptitle(args.title, fontsize=10)
    fig.tight_layout()
    fig.savefig(args.output, dpi=110)
    print(f"wrote {args.output}")


if __name__ == "__main__":
    main()
