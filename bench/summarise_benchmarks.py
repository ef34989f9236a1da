#!/usr/bin/env python3
"""Turns Google Benchmark's JSON output (on stdin) into a markdown table."""

import json
import sys


def main():
    report = json.load(sys.stdin)
    print("| Benchmark | CPU time per iteration (ns) | Tokens per iteration | ns per token | Tokens per second |")
    print("|---|---:|---:|---:|---:|")
    for bench in report["benchmarks"]:
        nanoseconds = bench["cpu_time"]
        tokens = bench["tokens"]
        print(f"| {bench['name']} | {nanoseconds:.0f} | {tokens:.0f} | {nanoseconds / tokens:.1f} | "
              f"{bench['items_per_second'] / 1e6:.1f} M |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
