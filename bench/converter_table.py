#!/usr/bin/env python3
"""Runs the converter benchmark and prints its figures as one table."""
import json
import subprocess
import sys


def main():
    bench = sys.argv[1]
    extra = sys.argv[2:] or ["--benchmark_min_time=0.5", "--benchmark_repetitions=5",
                             "--benchmark_report_aggregates_only=true", "--benchmark_enable_random_interleaving=true"]
    run = subprocess.run([bench, "--benchmark_format=json", *extra], check=True, capture_output=True, text=True)
    rows = [b for b in json.loads(run.stdout)["benchmarks"] if b.get("aggregate_name", "median") == "median"]
    # Interleaved runs come back in any order: group by source, then kind.
    kinds = {"fast": 0, "legacy": 1, "libyuv": 2}
    rows.sort(key=lambda b: (b["run_name"].split("/")[1], kinds.get(b["run_name"].split("/")[0], 3),
                             b.get("threads", 1), b["run_name"]))
    print("| converter | source | threads | SIMD | ms per frame (wall) | ms per frame (CPU) | bit-exact with legacy |")
    print("|---|---|---|---|---|---|---|")
    for b in rows:
        name = b["run_name"]
        kind = name.split("/")[0]
        params = dict(part.split(":") for part in name.split("/")[1:] if ":" in part)
        source = "2560x1440" if params.get("from") == "2560" else "1920x1080"
        threads = str(int(b.get("threads", 1))) if kind == "fast" else "1"
        simd = b.get("label", "") if kind == "fast" else ("double" if kind == "legacy" else "library")
        exact = {"fast": "no" if b.get("mismatched") else "yes", "legacy": "(reference)"}.get(kind, "n/a")
        print(f"| {kind} | {source} | {threads} | {simd} | {b['real_time']:.3f} | {b['cpu_time']:.3f} | {exact} |")


if __name__ == "__main__":
    main()
