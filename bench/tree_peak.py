#!/usr/bin/env python3
"""Peak memory of a command and every process it starts, together.

    bench/tree_peak.py COMMAND [ARGS...]

Runs COMMAND with standard output to /dev/null and samples, every 10 ms, the proportional set
size (Pss: shared pages divided among the processes that map them) of the process and its
descendants, summed; prints the largest sum in MiB. The maximum resident size of a single
process (what /usr/bin/time reports) misses the workers of a parallel run.
"""
import os
import subprocess
import sys
import time


def children():
    table = {}
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % pid) as fh:
                parent = int(fh.read().rsplit(")", 1)[1].split()[1])
        except OSError:
            continue
        table.setdefault(parent, []).append(int(pid))
    return table


def pss_kb(pid):
    try:
        with open("/proc/%d/smaps_rollup" % pid) as fh:
            for line in fh:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def main():
    proc = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
    peak = 0
    while proc.poll() is None:
        table = children()
        todo, total = [proc.pid], 0
        while todo:
            pid = todo.pop()
            total += pss_kb(pid)
            todo.extend(table.get(pid, []))
        peak = max(peak, total)
        time.sleep(0.01)
    print("%.1f MiB peak (process tree, Pss), exit %d" % (peak / 1024.0, proc.returncode))


if __name__ == "__main__":
    main()
