#!/usr/bin/env python3
"""Answer latency and gaps from one two-channel recording on one sample clock: left is what the
virtual microphone heard, right what the app played. Usage: latency.py CLOCK.wav PHRASE.wav
[FLOOR.wav] where FLOOR.wav is the offline answer to PHRASE.wav (the same engine, no devices).
Prints one line per phrase and a summary line of key=value pairs."""
import statistics
import sys
import wave

from array import array

RATE = 44100
LOUD = 300  # a sample this loud is speech (or an answer), not the silence between


def read(path):
    """The channels of a 16-bit WAV file, each a list of samples."""
    with wave.open(path) as w:
        data = array("h", w.readframes(w.getnframes()))
        n = w.getnchannels()
        return [data[c::n] for c in range(n)]


def segments(x, gap_s=0.7):
    """(first, last) loud sample of each stretch of sound, stretches split by gap_s of quiet."""
    found, gap = [], int(gap_s * RATE)
    for i, v in enumerate(x):
        if v > LOUD or v < -LOUD:
            if found and i - found[-1][1] <= gap:
                found[-1][1] = i
            else:
                found.append([i, i])
    return [tuple(f) for f in found]


def dropouts(x, first, last, least=64, edge=16, loud=100):
    """Runs of at least `least` exact zeros between two samples with sound right before and after
    them: a device that ran dry cuts the answer off mid-sound. (Quiet passages can hold zeros
    too, after a resampling server, but fade into them.)"""
    found, i = 0, first
    while i < last:
        if x[i] != 0:
            i += 1
            continue
        j = i
        while j < last and x[j] == 0:
            j += 1
        if j - i >= least:
            before = max((abs(v) for v in x[max(first, i - edge):i]), default=0)
            after = max((abs(v) for v in x[j:j + edge]), default=0)
            found += before > loud and after > loud
        i = j
    return found


def main():
    clock = read(sys.argv[1])
    phrase = read(sys.argv[2])[0]
    (p_first, p_last), = segments(phrase, gap_s=5)
    speech_len = p_last - p_first
    answer_len = None
    if len(sys.argv) > 3:
        floor = read(sys.argv[3])[0]
        (f_first, f_last), = segments(floor, gap_s=5)
        answer_len = f_last - f_first
        # The floor: from the end of the phrase to the first loud answer sample, offline.
        floor_latency = (f_first - p_last) / RATE
    mic, spk = clock[0], clock[1]
    latencies, gaps, missing = [], 0, 0
    for first, last in segments(mic, gap_s=2):
        answers = [a for a in segments(spk, gap_s=2) if first < a[0] < first + (last - first) + 3 * RATE]
        if not answers:
            missing += 1
            print(f"phrase at {first / RATE:7.2f} s: no answer")
            continue
        a_first, a_last = answers[0]
        latency = (a_first - last) / RATE
        latencies.append(latency)
        stretch = (a_last - a_first - answer_len) / RATE if answer_len else 0.0
        gap = dropouts(spk, a_first, a_last) > 0
        gaps += gap
        print(f"phrase at {first / RATE:7.2f} s: latency {latency:.3f} s, answer {stretch * 1000:+.1f} ms"
              f" against offline{' (gap)' if gap else ''}")
    n = len(latencies) + missing
    summary = f"answers={len(latencies)}/{n} gaps={gaps}"
    if latencies:
        summary += (f" median={statistics.median(latencies):.3f} min={min(latencies):.3f}"
                    f" max={max(latencies):.3f}")
    if answer_len:
        summary += f" floor={floor_latency:.3f}"
    print(summary)


if __name__ == "__main__":
    main()
