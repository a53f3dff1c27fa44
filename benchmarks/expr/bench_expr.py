"""Time and memory of building expressions, against building the equivalent CSR arrays with NumPy.

Each case runs in a fresh process so that its peak memory can be read from the operating system.
Printed: seconds and peak bytes per term for korvex and for the NumPy reference, and their ratios.
"""
import json
import resource
import subprocess
import sys
import time

CASES = {
    # name: (terms, description)
    "sum": (10**6, "Sum of 1e6 linear terms (list of c*x)"),
    "sumgen": (10**6, "Sum of 1e6 linear terms from a generator"),
    "dot": (10**6, "x @ c for 1e6 variables"),
    "rows": (10**6, "1e5 constraints of 10 terms (Sum per row)"),
    "sparse": (10**6, "1e5 constraints of 10 terms (Dot(A, x) <= b)"),
    "entry": (10**6, "memory per linear entry of one expression"),
    "entry9": (9 * 10**5, "memory per linear entry, 9e5 entries (the table's size steps at powers of two)"),
}


def peak_bytes():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def current_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * resource.getpagesize()


class Meter:
    """Time, peak growth and retained growth of memory over one piece of work."""

    def __enter__(self):
        self.base, self.peak0 = current_bytes(), peak_bytes()
        self.t = time.perf_counter()
        return self

    def __exit__(self, *exc):
        self.seconds = time.perf_counter() - self.t
        now, peak = current_bytes(), peak_bytes()
        self.retained = now - self.base
        self.peak = max(now, peak if peak > self.peak0 else 0) - self.base


def run_case(name, which):
    import numpy as np
    n = CASES[name][0]
    rng = np.random.default_rng(1)
    nrows, per = 10**5, 10
    cols = rng.integers(0, n // 10, size=(nrows, per))
    vals = rng.random((nrows, per)) + 0.5
    coefs = rng.random(n) + 0.5
    if which == "numpy":
        import scipy.sparse as sp
        with Meter() as m:
            if name in ("sum", "sumgen", "dot", "entry", "entry9"):
                # one row holding every term
                keep = sp.csr_matrix((coefs, (np.zeros(n, dtype=np.int64), np.arange(n))), shape=(1, n))
            else:
                keep = sp.csr_matrix((vals.ravel(), (np.repeat(np.arange(nrows), per), cols.ravel())),
                                     shape=(nrows, n // 10))
                keep = (keep, np.ones(nrows))
        return m.seconds, m.peak, m.retained

    import korvex
    nvars = n if name in ("sum", "sumgen", "dot", "entry", "entry9") else n // 10
    x = [korvex.var() for _ in range(nvars)]
    if name == "sum":
        terms = [float(c) * v for c, v in zip(coefs, x)]
    xa = np.array(x, dtype=object).view(korvex.ndarray)
    colsl, valsl, coefsl = cols.tolist(), vals.tolist(), coefs.tolist()
    if name == "sparse":
        import scipy.sparse as sp
        A = sp.csr_matrix((vals.ravel(), (np.repeat(np.arange(nrows), per), cols.ravel())), shape=(nrows, nvars))
    with Meter() as m:
        if name == "sum":
            keep = korvex.Sum(terms)
        elif name == "sumgen":
            keep = korvex.Sum(c * v for c, v in zip(coefsl, x))
        elif name == "dot":
            keep = xa @ coefs
        elif name.startswith("entry"):
            keep = korvex.expression()
            for c, v in zip(coefsl, x):
                keep += c * v
        elif name == "rows":
            keep = [korvex.Sum(valsl[i][j] * x[colsl[i][j]] for j in range(per)) <= 1.0 for i in range(nrows)]
        else:
            keep = korvex.Dot(A, xa) <= np.ones(nrows)
    assert keep is not None
    return m.seconds, m.peak, m.retained


def main():
    if len(sys.argv) == 3:
        print(json.dumps(run_case(sys.argv[1], sys.argv[2])))
        return
    print(f"{'case':8} {'korvex ns/term':>14} {'numpy ns/term':>13} {'time ratio':>10} {'korvex peak B/term':>18} "
          f"{'numpy peak B/term':>17} {'mem ratio':>9} {'korvex kept B/term':>18}")
    for name, (n, desc) in CASES.items():
        res = {}
        for which in ("korvex", "numpy"):
            out = subprocess.run([sys.executable, __file__, name, which], capture_output=True, text=True)
            if out.returncode:
                print(f"{name}: {which} failed: {out.stderr.strip().splitlines()[-1:]}")
                break
            res[which] = json.loads(out.stdout)
        else:
            (tk, mk, kk), (tn, mn, _) = res["korvex"], res["numpy"]
            print(f"{name:8} {tk / n * 1e9:14.1f} {tn / n * 1e9:13.1f} {tk / tn:10.1f} {mk / n:18.1f} {mn / n:17.1f} "
                  f"{mk / max(mn, 1):9.1f} {kk / n:18.1f}   {desc}")
    print("target: memory per linear entry (cases 'entry*', korvex kept B/term) <= 48")


if __name__ == "__main__":
    main()
