"""Cost per term of growing one object in place (e += term, s += term on a sum node, p *= f on
a product node), at n and 10n terms, against a Python dict updated with the same terms.

Printed per case: nanoseconds per term at both sizes, the ratio large/small (about 1 when each
term costs O(1)), and the ratio to the dict reference at the large size."""
import sys
import time

import korvex


def per_term(build, n):
    t = time.perf_counter()
    build(n)
    return (time.perf_counter() - t) / n * 1e9


def main():
    small = int(sys.argv[1]) if len(sys.argv) > 1 else 20000
    large = 10 * small
    xs = [korvex.var() for _ in range(large)]
    ln = [2.0 * v for v in xs]

    def reference(n):
        d = {}
        for v in xs[:n]:
            d[v] = d.get(v, 0.0) + 2.0

    def expr_var(n):
        e = korvex.expression()
        for v in xs[:n]:
            e += v

    def expr_term(n):
        e = korvex.expression()
        for t in ln[:n]:
            e += t

    def expr_quad(n):
        e = korvex.expression()
        x0 = xs[0]
        for v in xs[:n]:
            e += x0 * v

    def sum_node(n):
        s = korvex.exp(xs[0]) if hasattr(korvex, "exp") else xs[0] ** 3
        for v in xs[:n]:
            s += v

    def sum_node_nonlin(n):
        s = xs[0] ** 3
        for v in xs[:n]:
            s += v ** 3

    def prod_node(n):
        p = xs[0] ** 3 * 2
        for v in xs[:n]:
            p *= v ** 3

    ref = per_term(reference, large)
    print(f"{'case':18} {'ns/term n':>10} {'ns/term 10n':>12} {'10n/n':>7} {'vs dict':>8}")
    print(f"{'dict reference':18} {per_term(reference, small):10.1f} {ref:12.1f}")
    for name, f in [("e += var", expr_var), ("e += 2*x", expr_term), ("e += x0*x", expr_quad),
                    ("sum += var", sum_node), ("sum += x**3", sum_node_nonlin),
                    ("prod *= x**3", prod_node)]:
        a, b = per_term(f, small), per_term(f, large)
        print(f"{name:18} {a:10.1f} {b:12.1f} {b / a:7.2f} {b / ref:8.2f}")


if __name__ == "__main__":
    main()
