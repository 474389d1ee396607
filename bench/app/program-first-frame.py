#!/usr/bin/env python3
"""Launch to first frame of the program itself: from starting `quibblers --mic SAMPLE --frames DIR`
to the first PNG of the series appearing (it is written into a temporary folder beside DIR while
the run goes on), as wall time and as the process's CPU time by then (which a busy machine
disturbs less). This covers what the window's launch pays before its first frame too: mapping
the libraries (the view module among them), the GL set-up and the 24 textures. Given an earlier
program, its runs alternate with these. Medians of fresh processes.
Usage: bench/app/program-first-frame.py [BUILD_DIR] [RUNS] [EARLIER_PROGRAM]   (defaults: build, 9)
"""
import glob
import os
import statistics
import subprocess
import sys
import tempfile
import time


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def first_frame(program, sample, work, run):
    frames = os.path.join(work, f"frames{run}")
    env = dict(os.environ, XDG_DATA_HOME=os.path.join(work, f"data{run}"))
    start = time.monotonic()
    process = subprocess.Popen([program, "--mic", sample, "--frames", frames, "--no-analytics"],
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env)
    pattern = os.path.join(work, f".frames{run}.frames-*", "frame_000000.png")
    seen = None
    while seen is None and process.poll() is None:
        if glob.glob(pattern):
            seen = (time.monotonic() - start, cpu_seconds(process.pid))
        else:
            time.sleep(0.0005)
    process.kill()
    process.wait()
    if seen is None:
        sys.exit(f"program-first-frame: {program} ended before its first frame")
    return seen


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build"))
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 9
    earlier = os.path.abspath(sys.argv[3]) if len(sys.argv) > 3 else None
    sample = os.path.join(root, "resources", "samples", "hello-quibblers.wav")
    ours, theirs = [], []
    with tempfile.TemporaryDirectory() as work:
        for r in range(runs):
            ours.append(first_frame(os.path.join(build, "quibblers"), sample, work, f"o{r}"))
            if earlier:
                theirs.append(first_frame(earlier, sample, work, f"e{r}"))
    def report(name, results):
        wall = statistics.median(r[0] for r in results)
        cpu = statistics.median(r[1] for r in results)
        print(f"{name}: launch to first frame {wall:.3f} s, {cpu:.3f} s CPU (median of {runs})")
        return cpu

    cpu = report("this build", ours)
    if earlier:
        print(f"CPU ratio to the earlier program: {cpu / report(earlier, theirs):.2f}")


if __name__ == "__main__":
    main()
