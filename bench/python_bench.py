#!/usr/bin/python3
"""The Python package against NumPy, in the same run (by hand, never in the tests):

    PYTHONPATH=build/default/python /usr/bin/python3 bench/python_bench.py

Times are process CPU time (time.process_time), the median of the repetitions.
"""
import statistics
import time

import numpy

import orbax


def median_seconds(action, repeat, number=1):
    runs = []
    for _ in range(repeat):
        start = time.process_time()
        for _ in range(number):
            action()
        runs.append((time.process_time() - start) / number)
    return statistics.median(runs)


def row(name, seconds, baseline=None):
    ratio = f"{seconds / baseline:8.2f}" if baseline else " " * 8
    print(f"| {name:<44} | {seconds * 1e6:14.1f} | {ratio} |")


def main():
    s = orbax.Session()
    rng = numpy.random.default_rng(1)
    print("| measure | µs | ratio to NumPy |\n|---|---:|---:|")
    row("s.eval('1+2') (a scalar round trip)", median_seconds(lambda: s.eval("1+2"), 5, 2000))
    s["A"] = 1
    row("s['A'] (read a scalar)", median_seconds(lambda: s["A"], 5, 20000))
    row("s['A'] = 2 (assign a scalar)", median_seconds(lambda: s.__setitem__("A", 2), 5, 20000))

    x = rng.random(10**7)
    numpy_add = median_seconds(lambda: x + x, 5)
    row("NumPy X+X, 1e7 REAL", numpy_add)

    def apl_add():
        s["X"] = x
        return s.eval("X+X")
    row("s['X']=X, s.eval('X+X'), 1e7 REAL (view back)", median_seconds(apl_add, 5), numpy_add)
    s["X"] = x
    row("  of which s['X']=X (one copy in)", median_seconds(lambda: s.__setitem__("X", x), 5), numpy_add)
    # Managed APL data starts on a 16-byte boundary at every rank, so views are
    # aligned; what an unaligned view would cost is measured on a NumPy view
    # of the same data 4 bytes off.
    view = s.eval("X+X")
    print(f"(the result view is aligned: {view.flags.aligned})")
    raw = numpy.empty(view.nbytes + 8, dtype=numpy.uint8)
    unaligned = numpy.frombuffer(raw.data, dtype=numpy.float64, count=view.size, offset=4)
    unaligned[...] = view
    row("  sum of the (aligned) view", median_seconds(view.sum, 5))
    row("  sum of an unaligned copy", median_seconds(unaligned.sum, 5))
    row("  view+view (aligned operands)", median_seconds(lambda: view + view, 5))
    row("  unaligned+unaligned", median_seconds(lambda: unaligned + unaligned, 5))
    row("  copying the unaligned array to an aligned one", median_seconds(unaligned.copy, 5))

    y = rng.random(10**6)
    numpy_sort = median_seconds(lambda: numpy.argsort(y, kind="stable"), 5)
    row("numpy.argsort(kind='stable'), 1e6 REAL", numpy_sort)
    s["Y"] = y
    row("s.eval('⍋Y'), 1e6 REAL", median_seconds(lambda: s.eval("⍋Y"), 5), numpy_sort)
    assert (s.eval("⍋Y") - 1 == numpy.argsort(y, kind="stable")).all()


if __name__ == "__main__":
    main()
