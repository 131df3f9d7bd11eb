#!/usr/bin/python3
"""The table and plots of bench/compare.sh from its results.jsonl.

    compare_report.py RESULTS.jsonl OUT_DIR

Prints the table (Markdown) and writes OUT_DIR/table.md, OUT_DIR/cpu.png
(CPU per stream against N) and OUT_DIR/lateness.png (lateness percentiles
against N, with the platform floor). Ratios are taken within one run:
CPU against the GStreamer row of the same shape and repeat, lateness against
the floor measured during the same row. Repeated rows show medians (the
maximum lateness, the packets later than 2 ms and the loss: the worst run).
"Later than 2 ms" also gives, in brackets, how many of those packets no
stall of the floor thread (held back more than 1 ms) explains.
"""
import json
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

BASELINE = "gstreamer"


def load(path):
    with open(path) as f:
        return [json.loads(line) for line in f if line.strip()]


def shape(r):
    return (r["n"], r["frames"])


def ratio(a, b):
    return a / b if b > 0 else float("nan")


def median(values):
    values = sorted(v for v in values if v == v)
    if not values:
        return float("nan")
    mid = len(values) // 2
    return values[mid] if len(values) % 2 else (values[mid - 1] + values[mid]) / 2


def packet_label(frames):
    return f"{frames * 1000 // 48} us"


def measures(r, g):
    """One run of a row, with its ratios to the GStreamer row of the same repeat."""
    send, receive = r["cpu"].get("send", 0.0), r["cpu"].get("receive", 0.0)
    late, floor = r["lateness_us"], r["floor_us"]
    # A sender that falls behind sends fewer packets: CPU per packet delivered
    # compares it fairly.
    packets_per_second = r["received"] / r["seconds"] if r["seconds"] > 0 else 0
    return {
        "packet_us": ratio(send + receive, packets_per_second) * 1e6,
        "send": send, "send_ratio": ratio(send, g["cpu"]["send"]) if g else float("nan"),
        "receive": receive, "receive_ratio": ratio(receive, g["cpu"]["receive"]) if g else float("nan"),
        "p50": late["p50"], "p99": late["p99"], "p999": late["p999"], "max": late["max"],
        "floor": floor["p999"], "late_floor": ratio(late["p999"], floor["p999"]),
        "lost": r["lost"], "expected": r["expected"], "late_2ms": r.get("late_2ms", 0),
        "late_2ms_floor_on_time": r.get("late_2ms_floor_on_time", float("nan")), "busy": r["machine_busy"],
        "steal": r.get("machine_steal", 0.0), "load": r["loadavg"],
    }


def rows_of(results):
    """The median of each measure over the repeats of a row and shape."""
    baseline = {(shape(r), r.get("repeat", 1)): r for r in results if r["row"] == BASELINE}
    runs = {}
    for r in results:
        g = baseline.get((shape(r), r.get("repeat", 1)))
        runs.setdefault((r["row"], shape(r)), []).append(measures(r, g))
    table = []
    for (row, (n, frames)), ms in runs.items():
        t = {key: median([m[key] for m in ms]) for key in ms[0]}
        t.update({"row": row, "n": n, "packet": packet_label(frames), "runs": len(ms),
                  "lost": max(m["lost"] for m in ms), "max": max(m["max"] for m in ms),
                  "late_2ms": max(m["late_2ms"] for m in ms),
                  "late_2ms_floor_on_time": max(m["late_2ms_floor_on_time"] for m in ms)})
        table.append(t)
    return table


def late_count(value):
    return "-" if value != value else f"{value:.0f}"


def markdown(table):
    head = ("| sender/receiver | N | packet | send core-s/s | send vs GStreamer | receive core-s/s "
            "| receive vs GStreamer | send + receive CPU per packet (us) | lateness p50 / p99 / p99.9 / max (us) | floor p99.9 (us) "
            "| p99.9 / floor | later than 2 ms (floor on time) | lost / expected | runs | machine busy, steal, load |")
    lines = [head, "|" + "---|" * (head.count("|") - 1)]
    for t in table:
        lines.append(
            f"| {t['row']} | {t['n']} | {t['packet']} | {t['send']:.3f} | {t['send_ratio']:.2f} "
            f"| {t['receive']:.3f} | {t['receive_ratio']:.2f} | {t['packet_us']:.1f} "
            f"| {t['p50']:.0f} / {t['p99']:.0f} / {t['p999']:.0f} / {t['max']:.0f} | {t['floor']:.0f} "
            f"| {t['late_floor']:.2f} | {t['late_2ms']} ({late_count(t['late_2ms_floor_on_time'])}) "
            f"| {t['lost']} / {t['expected']:.0f} | {t['runs']} "
            f"| {t['busy'] * 100:.0f} %, {t['steal'] * 100:.0f} %, {t['load']:.1f} |")
    return "\n".join(lines) + "\n"


def series(table, row, key):
    points = sorted((t["n"], t[key]) for t in table if t["row"] == row and t["packet"] == "1000 us")
    return [p[0] for p in points], [p[1] for p in points]


def plot_cpu(table, path):
    fig, ax = plt.subplots(figsize=(7, 4.5))
    for row in dict.fromkeys(t["row"] for t in table):
        for key, style in (("send", "-o"), ("receive", "--s")):
            n, cpu = series(table, row, key)
            per_stream = [1000 * c / k for c, k in zip(cpu, n)]
            if n and any(per_stream):
                ax.plot(n, per_stream, style, label=f"{row} {key}")
    ax.set_xscale("log", base=2)
    ax.set_yscale("log")
    ax.set_xlabel("concurrent 8-channel L24 streams, 1 ms packets (N)")
    ax.set_ylabel("CPU per stream (ms of CPU per second)")
    ax.set_title("CPU per stream")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend(fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def plot_lateness(table, path):
    fig, ax = plt.subplots(figsize=(7, 4.5))
    styles = {"p50": ":", "p99": "--", "p999": "-"}
    for i, row in enumerate(dict.fromkeys(t["row"] for t in table)):
        colour = f"C{i}"
        for key, style in styles.items():
            n, late = series(table, row, key)
            if n:
                ax.plot(n, [max(v, 1) for v in late], style, marker="o", color=colour, label=f"{row} {key}")
    n, floor = series(table, BASELINE, "floor")
    if not n:
        n, floor = series(table, table[0]["row"], "floor")
    ax.plot(n, floor, "-", color="black", linewidth=2, label="platform floor p99.9")
    ax.set_xscale("log", base=2)
    ax.set_yscale("log")
    ax.set_xlabel("concurrent 8-channel L24 streams, 1 ms packets (N)")
    ax.set_ylabel("lateness (us)")
    ax.set_title("Packet lateness at the measuring receiver")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend(fontsize=7, ncol=2)
    fig.tight_layout()
    fig.savefig(path, dpi=110)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    results, out = sys.argv[1], sys.argv[2]
    table = rows_of(load(results))
    text = markdown(table)
    with open(f"{out}/table.md", "w") as f:
        f.write(text)
    print(text, end="")
    plot_cpu(table, f"{out}/cpu.png")
    plot_lateness(table, f"{out}/lateness.png")


if __name__ == "__main__":
    main()
