#!/usr/bin/env python3
"""Whole-process CPU time (user + system) of headless answers, against their targets and peer:

  - launch: `quibblers --mic` answering a 1-second recording (target: at most 60 ms);
  - throughput: answering a 76-second speech recording, against `soundstretch IN OUT -pitch=12`
    (the pitch library's own tool shifting the same file one octave up) run alternately with it
    (target: at most 0.45 of the peer's time).

Given a second program (an earlier build, e.g. an installed tree's bin/quibblers), its runs
alternate with these and both are reported: before and after from the same run.

The recordings are made here with espeak-ng and sox. Medians of alternating runs; each run gets
a fresh data folder (the analytics store) and a collection server that refuses at once.
Usage: bench/engine/answer-cost.py [BUILD_DIR] [RUNS] [EARLIER_PROGRAM]   (defaults: build, 7)
"""
import os
import statistics
import subprocess
import sys
import tempfile

TEXT = (
    "Good morning little friends. The garden is quiet and the hay is fresh. "
    "Who wants a slice of cucumber? I heard a squeak behind the tunnel. "
    "Somebody is hiding under the wheel again. Come out, come out, the carrots are here. "
    "Today we will count the apples, one, two, three, four, five. "
    "Whiskers up, ears up, everybody ready for a run. "
)


def cpu_seconds(argv, env):
    """Runs argv to its end and returns its user + system CPU time in seconds."""
    with open(os.devnull, "wb") as null:
        process = subprocess.Popen(argv, stdout=null, stderr=null, env=env)
        _, status, usage = os.wait4(process.pid, 0)
    if not (os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0):
        sys.exit(f"answer-cost: {argv[0]} failed ({status})")
    return usage.ru_utime + usage.ru_stime


def main():
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build"))
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    quibblers = os.path.join(build, "quibblers")
    earlier = os.path.abspath(sys.argv[3]) if len(sys.argv) > 3 else None
    with tempfile.TemporaryDirectory() as work:
        speech = os.path.join(work, "speech.wav")
        subprocess.run(["espeak-ng", "-s", "150", "-w", os.path.join(work, "voice.wav"), TEXT * 4], check=True)
        subprocess.run(["sox", "-G", os.path.join(work, "voice.wav"), "-r", "44100", "-c", "1", "-b", "16",
                        speech, "trim", "0", "76"], check=True)
        second = os.path.join(work, "second.wav")
        subprocess.run(["sox", "-D", speech, second, "trim", "0", "1"], check=True)

        def answer(recording, run, program=quibblers):
            env = dict(os.environ, XDG_DATA_HOME=os.path.join(work, f"data{run}"))
            env.pop("DO_NOT_TRACK", None)
            return cpu_seconds([program, "--mic", recording, "--speaker", os.path.join(work, "out.wav"),
                                "--collection-server", "127.0.0.1:9"], env)

        def stretch():
            return cpu_seconds(["soundstretch", speech, os.path.join(work, "peer.wav"), "-pitch=12"], dict(os.environ))

        launch, launch_earlier = [], []
        for r in range(runs):
            launch.append(answer(second, r))
            if earlier:
                launch_earlier.append(answer(second, f"e{r}", earlier))
        ours, peer, ours_earlier = [], [], []
        for r in range(runs):
            ours.append(answer(speech, runs + r))
            peer.append(stretch())
            if earlier:
                ours_earlier.append(answer(speech, f"e{runs + r}", earlier))

    launch_ms = statistics.median(launch) * 1000
    ratio = statistics.median(ours) / statistics.median(peer)
    print(f"launch: 1 s headless answer, {launch_ms:.0f} ms CPU (median of {runs}; target <= 35 ms)"
          f" {'ok' if launch_ms <= 35 else 'OVER'}")
    print(f"throughput: 76 s answer {statistics.median(ours) * 1000:.0f} ms CPU, soundstretch -pitch=12 "
          f"{statistics.median(peer) * 1000:.0f} ms: ratio {ratio:.2f} (median of {runs} alternating; "
          f"target <= 0.45) {'ok' if ratio <= 0.45 else 'OVER'}")
    if earlier:
        print(f"earlier program {earlier}: launch {statistics.median(launch_earlier) * 1000:.0f} ms CPU, "
              f"76 s answer {statistics.median(ours_earlier) * 1000:.0f} ms CPU: ratio "
              f"{statistics.median(ours_earlier) / statistics.median(peer):.2f}")


if __name__ == "__main__":
    main()
