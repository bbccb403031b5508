#!/usr/bin/env python3
"""Turns velmoran_bench's JSON output into the ratio tables (markdown) on standard output.

    bench/ratio_table.py RESULTS.json

Every figure is a ratio of two medians from the same run (CPU time per operation, or calls per
second), never an absolute time: the machines these run on are shared and noisy, ratios of
neighbouring measurements are what carries over. A ratio above 1 means ours is faster.
"""
import json
import sys

PAYLOADS = [
    ("P1_call", "P1 method call getPlatformVersion"),
    ("P1_envelope", 'P1 success envelope "10"'),
    ("P2_maps", "P2 10,000 maps"),
    ("P3_floats", "P3 float list, 16 MiB"),
    ("P4_bytes", "P4 byte list, 16 MiB"),
    ("P5_int_map", "P5 map of 1,000 int32"),
]
PEERS = ["msgpack", "msgpack_object", "nlohmann"]
BLOBS = {"P3_floats", "P4_bytes"}
PATHS = [
    ("raw_c_handler", "raw C handler (floor)"),
    ("messenger_handler", "BinaryMessengerImpl handler"),
    ("method_channel", "MethodChannel, minimal handler"),
    ("plugin", "VelmoranPlugin"),
]
TIME_UNITS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load(path):
    with open(path) as f:
        data = json.load(f)
    runs = data["benchmarks"]
    medians = [r for r in runs if r.get("run_type") == "aggregate"
               and r.get("aggregate_name") == "median"]
    if medians:
        chosen, how = medians, "median of %s repetitions" % medians[0].get("repetitions", "?")
    else:
        chosen, how = [r for r in runs if r.get("run_type", "iteration") == "iteration"], \
            "single runs (no repetitions)"
    results = {}
    cvs = {r["run_name"]: r["cpu_time"] for r in runs
           if r.get("run_type") == "aggregate" and r.get("aggregate_name") == "cv"}
    minima = {r["run_name"]: r["cpu_time"] * TIME_UNITS[r.get("time_unit", "ns")] for r in runs
              if r.get("run_type") == "aggregate" and r.get("aggregate_name") == "min"}
    for r in chosen:
        if r.get("error_occurred"):
            results[r["run_name"]] = {"error": r.get("error_message", "error")}
            continue
        r = dict(r)
        r["cpu_ns"] = r["cpu_time"] * TIME_UNITS[r.get("time_unit", "ns")]
        r["cv"] = cvs.get(r.get("run_name"))
        r["min_cpu_ns"] = minima.get(r.get("run_name"))
        results[r.get("run_name", r["name"])] = r
    order = {name: i for i, name in enumerate(r.get("run_name", r["name"]) for r in runs)}
    results = dict(sorted(results.items(), key=lambda item: registration_order(item[0], order)))
    return data.get("context", {}), results, how


def registration_order(name, seen):
    """Payload order of the tables, then encode, decode, copy, then ours before the peers."""
    payload = name.split("/")[0]
    keys = [k for k, _ in PAYLOADS]
    ops = ["encode", "decode", "copy"]
    parts = name.split("/")
    impls = ["ours"] + PEERS + ["memcpy_prealloc", "memcpy_new_vector"]
    return (keys.index(payload) if payload in keys else len(keys),
            ops.index(parts[1]) if len(parts) > 1 and parts[1] in ops else len(ops),
            impls.index(parts[-1]) if parts[-1] in impls else len(impls),
            seen.get(name, 0))


def ratio(results, baseline, measured, key="cpu_ns"):
    """How many times faster `measured` is than `baseline` (time of baseline / time of measured).

    key "cpu_ns" compares the medians, "min_cpu_ns" the fastest repetitions."""
    a, b = results.get(baseline), results.get(measured)
    if not a or not b or "error" in a or "error" in b or not a.get(key) or not b.get(key):
        return None
    return a[key] / b[key]


def fmt(value, digits=2):
    return "n/a" if value is None else f"{value:.{digits}f}"


def verdict(value, target):
    if value is None:
        return "n/a"
    return "met" if value >= target else "**missed**"


def codec_table(results):
    lines = [
        "| payload | operation | ours ÷ msgpack | ours ÷ msgpack_object | ours ÷ nlohmann "
        "| ours ÷ best peer | best peer | same, fastest repetitions | target | |",
        "|---|---|---:|---:|---:|---:|---|---:|---|---|",
    ]
    for key, label in PAYLOADS:
        for op in ("encode", "decode"):
            ours = f"{key}/{op}/ours"
            if ours not in results:
                continue  # not run (filtered out)
            cells, best = [], None
            for peer in PEERS:
                r = ratio(results, f"{key}/{op}/{peer}", ours)
                cells.append("—" if r is None else fmt(r))
                if r is not None and (best is None or r < best[0]):
                    best = (r, peer)
            if op == "encode" and key not in BLOBS:
                target, met = "≥ 1.00 × best peer", verdict(best and best[0], 1.0)
            else:
                target, met = "—", ""
            fastest = best and ratio(results, f"{key}/{op}/{best[1]}", ours, "min_cpu_ns")
            lines.append(f"| {label} | {op} | " + " | ".join(cells) +
                         f" | {fmt(best and best[0])} | {best[1] if best else 'n/a'} "
                         f"| {fmt(fastest)} | {target} | {met} |")
    return "\n".join(lines)


def blob_table(results):
    lines = [
        "| payload | operation | ours ÷ memcpy into a new vector | ours ÷ memcpy into a "
        "preallocated buffer | ours ÷ new vector, fastest repetitions | target | |",
        "|---|---|---:|---:|---:|---|---|",
    ]
    for key, label in PAYLOADS:
        if key not in BLOBS:
            continue
        for op in ("encode", "decode"):
            ours = f"{key}/{op}/ours"
            if ours not in results:
                continue
            new_vector = ratio(results, f"{key}/copy/memcpy_new_vector", ours)
            prealloc = ratio(results, f"{key}/copy/memcpy_prealloc", ours)
            fastest = ratio(results, f"{key}/copy/memcpy_new_vector", ours, "min_cpu_ns")
            lines.append(f"| {label} | {op} | {fmt(new_vector)} | {fmt(prealloc)} "
                         f"| {fmt(fastest)} | ≥ 0.90 × new vector | {verdict(new_vector, 0.9)} |")
    return "\n".join(lines)


def round_trip_table(results):
    lines = [
        "| path | calls/s ÷ raw C handler | same, fastest repetitions | allocations per call "
        "| of which inside the channel callback | around it, in the host's Deliver "
        "| engine functions called |",
        "|---|---:|---:|---:|---:|---:|---:|",
    ]
    raw = results.get("round_trip/raw_c_handler")
    for key, label in PATHS:
        r = results.get(f"round_trip/{key}")
        if not r:
            continue
        if "error" in r:
            lines.append(f"| {label} | n/a | | | | | |")
            continue
        rel = ratio(results, "round_trip/raw_c_handler", f"round_trip/{key}")
        fastest = ratio(results, "round_trip/raw_c_handler", f"round_trip/{key}", "min_cpu_ns")
        lines.append(f"| {label} | {fmt(rel)} | {fmt(fastest)} "
                     f"| {fmt(r.get('allocs_per_op'), 1)} "
                     f"| {fmt(r.get('allocs_in_callback'), 1)} "
                     f"| {fmt(r.get('allocs_outside_callback'), 1)} "
                     f"| {fmt(r.get('engine_calls_per_op'), 0)} |")
    target = ratio(results, "round_trip/raw_c_handler", "round_trip/plugin")
    lines.append("")
    lines.append(f"Target: plugin ≥ 0.50 × raw C handler calls/s: {fmt(target)}, "
                 f"{verdict(target, 0.5)}.")
    engine_call = results.get("host/engine_call")
    if engine_call and raw and "error" not in engine_call and "error" not in raw:
        share = engine_call["cpu_ns"] / raw["cpu_ns"]
        lines.append(f"One engine function in the headless host by itself costs {fmt(share)} × "
                     f"a raw round trip and {fmt(engine_call.get('allocs_per_op'), 1)} "
                     "allocations.")
    return "\n".join(lines)


def allocation_table(results):
    lines = ["| benchmark | operator new calls per operation | message bytes |",
             "|---|---:|---:|"]
    for name, r in results.items():
        if "error" in r or "allocs_per_op" not in r or name.startswith(("round_trip", "host")):
            continue
        lines.append(f"| {name} | {fmt(r['allocs_per_op'], 1)} "
                     f"| {int(round(r.get('message_bytes', 0)))} |")
    return "\n".join(lines)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    context, results, how = load(sys.argv[1])
    errors = [(n, r["error"]) for n, r in results.items() if "error" in r]
    cvs = sorted(((r["cv"], n) for n, r in results.items() if r.get("cv") is not None),
                 reverse=True)
    print(f"Ratios of CPU time per operation ({how}); above 1 means ours is faster. "
          f"{context.get('num_cpus', '?')} CPUs; payload seed {context.get('payload_seed', '?')}; "
          f"the Google Benchmark library itself was built as "
          f"{context.get('library_build_type', '?')} (the measured code is built with -O2).")
    if cvs:
        median_cv = cvs[len(cvs) // 2][0]
        print(f"Noise: the CPU time of a benchmark varied between its repetitions by "
              f"{median_cv:.0%} (coefficient of variation) in the median case and by "
              f"{cvs[0][0]:.0%} at most ({cvs[0][1]}).")
    print()
    print("### Codec: ours against the MessagePack peers")
    print()
    print(codec_table(results))
    print()
    print("### P3 and P4: ours against the physical limit")
    print()
    print(blob_table(results))
    print()
    print('### Round trip of "getPlatformVersion" through the headless host')
    print()
    print(round_trip_table(results))
    print()
    print("### Allocations of ours and nlohmann (msgpack-c allocates with malloc, not counted)")
    print()
    print(allocation_table(results))
    for name, message in errors:
        print(f"\nERROR in {name}: {message}")
    if errors:
        sys.exit(1)


if __name__ == "__main__":
    main()
