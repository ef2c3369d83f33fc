"""Reads a test host log of an edge-storage run and checks the replayed frames against the live
ones: the gap is the longest pause between two live frames; every replayed frame must lie
strictly inside it, none may repeat a live or another replayed frame (by time, and by picture:
no replayed payload equals a live one taken within 3 s of it), the first must be a key frame. With a third argument, no two consecutive replayed frames may lie further apart than that
many seconds. Prints CHECK lines and the measured figures; exit status 1 on a failed check."""
import re
import sys
from datetime import datetime

log = open(sys.argv[1], encoding="latin-1").read().replace("\r", "").splitlines()
# "rounds" instead of a gap length: a run of many outages (the soak), each pause of 5 s or more
# in the live frames being one gap; prints figures over all of them. "filled MIN_GAP MAX_HOLE":
# as "rounds", and every pause of MIN_GAP seconds or more must be filled: replayed frames from
# within MAX_HOLE seconds of its start to within MAX_HOLE of its end, no hole longer than that
# (with a fifth argument "last", only the last such pause).
filled = len(sys.argv) > 4 and sys.argv[2] == "filled"
rounds = len(sys.argv) > 2 and sys.argv[2] in ("rounds", "filled")
min_gap = 10.0 if rounds or len(sys.argv) <= 2 else float(sys.argv[2])
max_hole = float(sys.argv[3]) if len(sys.argv) > 3 else None
failed = False


def check(ok, what):
    global failed
    print(("CHECK ok: " if ok else "CHECK FAILED: ") + what)
    failed |= not ok


def when(text):
    return datetime.strptime(text, "%Y-%m-%dT%H:%M:%S.%fZ").timestamp()


live, replayed = [], []
sums = {"LIVE_FRAME": [], "REPLAYED": []}
for line in log:
    m = re.match(r"^(LIVE_FRAME|REPLAYED) channel=\d+ time=(\S+) key=(\d)(?: bytes=\d+)? ms=(\d+)(?: sum=(\w+))?", line)
    if m:
        (live if m.group(1) == "LIVE_FRAME" else replayed).append((when(m.group(2)), m.group(3) == "1", int(m.group(4))))
        if m.group(5):
            sums[m.group(1)].append((when(m.group(2)), m.group(5)))


def same_pictures():
    """Replayed frames whose payload equals a live frame's taken within 3 s (the clip repeats
    every 10 s): the same picture delivered twice."""
    by_sum = {}
    for t, s in sums["LIVE_FRAME"]:
        by_sum.setdefault(s, []).append(t)
    return [(t, s) for t, s in sums["REPLAYED"] if any(abs(t - u) < 3.0 for u in by_sum.get(s, []))]



def spread(values, unit):
    values = sorted(values)
    if not values:
        return "none"
    return "%s/%s/%s%s" % (values[0], values[len(values) // 2], values[-1], unit)


if rounds:
    gaps = [(a, b) for a, b in zip(live, live[1:]) if b[0] - a[0] >= 5.0]
    per_gap = [[r for r in replayed if a[0] < r[0] < b[0]] for a, b in gaps]
    check(sum(map(len, per_gap)) == len(replayed),
          "all %d replayed frames lie inside the %d gaps" % (len(replayed), len(gaps)))
    live_times = {round(l[0], 3) for l in live}
    check(not [r for r in replayed if round(r[0], 3) in live_times], "no replayed frame repeats a live frame")
    twice = same_pictures()
    check(not twice, "no replayed picture repeats a live one (%d do%s)"
          % (len(twice), "".join(" %.3f" % t for t, _ in twice[:5])))
    times = [r[0] for r in replayed]
    check(len(set(times)) == len(times) and times == sorted(times), "replayed frames are unique and in order")
    check(all(g[0][1] for g in per_gap if g), "every gap's replay starts with a key frame")
    if filled:
        min_len, hole = float(sys.argv[3]), float(sys.argv[4])
        only_last = len(sys.argv) > 5 and sys.argv[5] == "last"
        long_gaps = [(ab, g) for ab, g in zip(gaps, per_gap) if ab[1][0] - ab[0][0] >= min_len]
        check(len(long_gaps) > 0, "%d gaps of %.0f s or more" % (len(long_gaps), min_len))
        for (a, b), g in long_gaps[-1:] if only_last else long_gaps:
            t = [a[0]] + [r[0] for r in g] + [b[0]]
            worst = max(y - x for x, y in zip(t, t[1:]))
            check(worst <= hole, "the %.1f s gap is filled by %d replayed frames (largest hole %.2f s)"
                  % (b[0] - a[0], len(g), worst))
    print("FIGURES gaps=%d gap_s(min/median/max)=%s replayed_frames=%s reconnect_to_last_replayed_ms=%s"
          % (len(gaps), spread([round(b[0] - a[0], 1) for a, b in gaps], ""),
             spread([len(g) for g in per_gap], ""),
             spread([g[-1][2] - b[2] for g, (a, b) in zip(per_gap, gaps) if g], "")))
    sys.exit(1 if failed else 0)

check(len(live) > 20, "live frames before and after the outage (%d)" % len(live))
gap = max(((b[0] - a[0], a, b) for a, b in zip(live, live[1:])), default=(0, None, None))
length, before, after = gap
check(length >= min_gap, "a gap of %.1f s in the live frames" % length)
check(len(replayed) > 0, "replayed frames arrived (%d)" % len(replayed))
if replayed and before and after:
    times = [r[0] for r in replayed]
    inside = [t for t in times if before[0] < t < after[0]]
    check(len(inside) == len(times), "%d of %d replayed frames lie strictly inside the gap (%.3f .. %.3f)"
          % (len(inside), len(times), before[0], after[0]))
    live_times = {round(l[0], 3) for l in live}
    dup_live = [t for t in times if round(t, 3) in live_times]
    check(not dup_live, "no replayed frame repeats a live frame (%d do)" % len(dup_live))
    twice = same_pictures()
    check(not twice, "no replayed picture repeats a live one (%d do%s)"
          % (len(twice), "".join(" %.3f" % t for t, _ in twice[:5])))
    check(len(set(times)) == len(times) and times == sorted(times), "replayed frames are unique and in order")
    check(replayed[0][1], "the first replayed frame is a key frame")
    covered = times[-1] - times[0]
    check(covered >= length - 3.0, "the replay covers the gap (%.1f s of %.1f s)" % (covered, length))
    hole = max((b - a for a, b in zip(times, times[1:])), default=0.0)
    if max_hole is not None:
        check(hole <= max_hole, "no hole in the replay longer than %.1f s (largest %.2f s)" % (max_hole, hole))
    print("FIGURES gap_s=%.1f replayed_frames=%d reconnect_to_last_replayed_ms=%d"
          % (length, len(replayed), replayed[-1][2] - after[2]))
sys.exit(1 if failed else 0)
