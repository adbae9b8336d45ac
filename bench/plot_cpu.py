#!/usr/bin/python3
"""Processor time per second against the number of devices, before and after.

Reads two Google Benchmark JSON files (vtr_bench --benchmark_out=FILE) and
draws the BM_DevicesPerSecond figures of both into one PNG:

    bench/plot_cpu.py BEFORE.json AFTER.json OUT.png

It runs on the system's Python (/usr/bin/python3), whose matplotlib comes
from the Debian package python3-matplotlib, installed here when it is missing.
"""
import json
import shutil
import subprocess
import sys


def load_matplotlib():
    try:
        import matplotlib
    except ImportError:
        apt = ["apt-get", "install", "-y", "python3-matplotlib"]
        if shutil.which("sudo") and subprocess.run(["id", "-u"], capture_output=True,
                                                   text=True).stdout.strip() != "0":
            apt.insert(0, "sudo")
        subprocess.run(apt, check=True)
        import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    return plt


def series(path):
    """(devices, cpu % of a core) of the tracking runs on plain ptys, and the idle figure."""
    with open(path) as f:
        runs = json.load(f)["benchmarks"]
    tracking, idle = [], None
    for r in runs:
        if not r["name"].startswith("BM_DevicesPerSecond/") or "/tracking_uart/" in r["name"]:
            continue
        if "/idle/" in r["name"]:
            idle = (r["devices_open"], max(r["cpu_pct_of_core"], 0.01))
        else:
            tracking.append((r["devices_tracking"], max(r["cpu_pct_of_core"], 0.01)))
    tracking.sort()
    return tracking, idle


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    before, after, out = sys.argv[1:]
    plt = load_matplotlib()
    fig, ax = plt.subplots(figsize=(6.4, 4.2))
    for path, label, style in ((before, "before (paced busy wait)", "o-"),
                               (after, "after (kernel wait)", "s-")):
        tracking, idle = series(path)
        if not tracking:
            sys.exit(f"{path}: no BM_DevicesPerSecond figures")
        line, = ax.plot([d for d, _ in tracking], [c for _, c in tracking], style, label=label)
        if idle is not None:
            ax.plot([idle[0]], [idle[1]], "x", color=line.get_color(),
                    label=f"{label.split()[0]}: {int(idle[0])} idle open devices")
    ax.axhline(1.0, color="grey", linestyle=":", label="target for ten devices (1% of a core)")
    ax.set_yscale("log")
    ax.set_ylim(bottom=0.01)
    ax.set_xlabel("devices tracking a play (poll every 133 ms)")
    ax.set_ylabel("processor time, % of one core")
    ax.set_title("Driver processor time on paced pseudo-terminal decks")
    ax.set_xticks([1, 4, 10])
    ax.grid(True, which="both", alpha=0.3)
    ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(out, dpi=110)
    print(out)


if __name__ == "__main__":
    main()
