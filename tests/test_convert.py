"""Conversion of expressions into solver rows and formula tokens, and tokens back to expressions."""
import math
import random

import pytest

import korvex as k

EOF, CON, COL, UFUN, IFUN, RB, OP = 0, 1, 10, 11, 12, 22, 31


@pytest.fixture
def p():
    return k.problem()


@pytest.fixture
def xyz(p):
    return p.addVariable(), p.addVariable(), p.addVariable()


def formulas(p, e, objective=False):
    return p._convertExpr(e, objective=objective)[3]


def tokens(p, e):
    (f,) = formulas(p, e)
    return [(int(t), v) for t, v in f[2]]


# ---- a small postfix evaluator of token streams, to compare streams by value ----
FUNS = {14: math.log10, 15: math.log, 16: math.exp, 17: abs, 18: math.sqrt, 27: math.sin, 28: math.cos,
        29: math.tan, 30: math.asin, 31: math.acos, 32: math.atan, 33: min, 34: max, 36: sum, 37: math.prod,
        46: lambda v: math.copysign(1.0, v) if v else 0.0, 49: math.erf, 50: math.erfc}
OPS = {2: lambda a, b: a ** b, 3: lambda a, b: a * b, 4: lambda a, b: a / b, 5: lambda a, b: a + b,
       6: lambda a, b: a - b}
MARK = object()


def eval_tokens(toks, x):
    st = []
    for t, v in toks:
        if t == CON:
            st.append(v)
        elif t == COL:
            st.append(x[int(v)])
        elif t == RB:
            st.append(MARK)
        elif t == IFUN:
            args = []
            while st[-1] is not MARK:
                args.append(st.pop())
            st.pop()
            f = FUNS[int(v)]
            st.append(f(args) if int(v) in (33, 34, 36, 37) else f(*args))
        elif t == OP and int(v) == 1:
            st.append(-st.pop())
        elif t == OP:
            b, a = st.pop(), st.pop()
            st.append(OPS[int(v)](a, b))
    (r,) = st
    return r


def eval_converted(conv, x):
    const, lin, quad, forms = conv
    val = const + sum(c * x[j] for j, c in lin)
    for i, j, c in quad:
        val += c * x[i] * x[j] * (1 if i == j else 2)
    for col, fac, toks in forms:
        val += fac * (x[col] if col >= 0 else 1.0) * eval_tokens(toks, x)
    return val


class TestLinearQuadratic:
    def test_parts_sorted_with_constant(self, p, xyz):
        x, y, z = xyz
        const, lin, quad, forms = p._convertExpr(3 * z + 2 * x - y + 7)
        assert const == 7 and lin == [(0, 2.0), (1, -1.0), (2, 3.0)] and quad == [] and forms == []

    def test_bilinear_and_square_conventions(self, p, xyz):
        x, y, _ = xyz
        assert p._convertExpr(x * y)[2] == [(0, 1, 0.5)]
        assert p._convertExpr(x * y, objective=True)[2] == [(0, 1, 1.0)]
        assert p._convertExpr(x ** 2)[2] == [(0, 0, 1.0)]
        assert p._convertExpr(x ** 2, objective=True)[2] == [(0, 0, 2.0)]

    def test_constant_only(self, p, xyz):
        x, _, _ = xyz
        assert p._convertExpr(x - x + 4) == (4.0, [], [], [])
        assert p._convertExpr(5) == (5.0, [], [], [])

    def test_sum_node_keeps_variable_after_sorted_expression(self, p, xyz):
        x, y, z = xyz
        const, lin, quad, forms = p._convertExpr(k.sin(x) + (3 * z + y) + x)
        # the expression part is sorted; an item given alone after it may follow unsorted
        cols = [j for j, _ in lin]
        assert sorted(cols) == [0, 1, 2] and len(forms) == 1

    def test_foreign_and_invalid_operands(self, p, xyz):
        x, _, _ = xyz
        q = k.problem()
        w = q.addVariable()
        with pytest.raises(k.ModelError, match="different problem"):
            p._convertExpr(x + w * 1)
        with pytest.raises(k.ModelError):
            p._convertExpr("x")


class TestTokens:
    def test_documented_examples(self, p, xyz):
        x, y, _ = xyz
        const, lin, quad, forms = p._convertExpr(k.sin(x) + y - 5)
        assert const == -5 and lin == [(1, 1.0)]
        assert forms == [(-1000, 1.0, [(22, 0.0), (10, 0.0), (12, 27.0), (0, 0.0)])]
        assert formulas(p, y * k.exp(x)) == [(1, 1.0, [(22, 0.0), (10, 0.0), (12, 16.0), (0, 0.0)])]
        assert formulas(p, k.Prod([k.exp(x), y, 4])) == [(1, 4.0, [(22, 0.0), (10, 0.0), (12, 16.0), (0, 0.0)])]
        # without a column the numbers stay in the tokens (no default formula column)
        assert formulas(p, k.Prod([k.exp(x), k.sin(y), 4]))[0][:2] == (-1000, 1.0)

    def test_functions_and_operators(self, p, xyz):
        x, y, z = xyz
        assert tokens(p, -k.sin(x)) == [(22, 0.0), (10, 0.0), (12, 27.0), (31, 1.0), (0, 0.0)]
        assert tokens(p, k.max(x, y, z)) == [(22, 0.0), (10, 0.0), (10, 1.0), (10, 2.0), (12, 34.0), (0, 0.0)]
        assert tokens(p, k.exp(x) / k.sin(y)) == [(22, 0.0), (10, 0.0), (12, 16.0), (22, 0.0), (10, 1.0),
                                                  (12, 27.0), (31, 4.0), (0, 0.0)]
        # a term emitter inside a tree: 2x, -x, 3xy
        assert tokens(p, k.exp(2 * x))[1:4] == [(1, 2.0), (10, 0.0), (31, 3.0)]
        assert tokens(p, k.exp(-x))[1:3] == [(10, 0.0), (31, 1.0)]
        assert tokens(p, k.exp(3 * x * y))[1:6] == [(1, 3.0), (10, 0.0), (10, 1.0), (31, 3.0), (31, 3.0)]

    def test_user_function_arguments_reversed(self, p, xyz):
        x, y, _ = xyz

        def f(a, b):
            return a * b
        toks = tokens(p, k.user(f, x, y))
        assert toks[:3] == [(22, 0.0), (10, 1.0), (10, 0.0)] and toks[3][0] == UFUN and toks[4] == (0, 0.0)
        # registered once per function and argument count
        assert tokens(p, k.user(f, y, x))[3] == toks[3]
        with pytest.raises(k.InterfaceError, match="User functions are not supported by constraint.getBody"):
            p.addConstraint(k.user(f, x, y) <= 1).getBody()

    def test_balanced_sum_of_five(self, p, xyz):
        x, y, z = xyz
        leaves = [k.sin(x), k.cos(y), k.exp(z), k.log(x), k.sqrt(y)]
        toks = tokens(p, k.sin(k.Sum(leaves)))
        ops = [i for i, t in enumerate(toks) if t == (31, 5.0)]
        # a b + c d + + e + : operators after the 2nd, after the 4th (two) and after the 5th operand
        ends = [i for i, t in enumerate(toks) if t[0] == 12 and i < len(toks) - 2]
        assert len(ops) == 4
        assert ops[0] == ends[1] + 1 and ops[1:3] == [ends[3] + 1, ends[3] + 2] and ops[3] == ends[4] + 1

    def test_expression_without_operands_is_a_zero_constant(self, p, xyz):
        x, y, _ = xyz
        q = x * y + x
        assert formulas(p, k.exp(q - q) + x) == [(-1000, 1.0, [(22, 0.0), (1, 0.0), (12, 16.0), (0, 0.0)])]

    def test_depth_budget(self, p, xyz):
        x, _, _ = xyz

        def nest(n):
            e = x
            for _ in range(n):
                e = k.sin(e)
            return e
        assert len(tokens(p, nest(63))) == 2 * 63 + 2       # 64 levels with the leaf
        with pytest.raises(k.ModelError, match="depth reached the maximum limit"):
            p._convertExpr(nest(64))
        with pytest.raises(k.ModelError, match="depth reached the maximum limit"):
            p._convertExpr(nest(64), objective=True)

    def test_values_match_random_points(self, p, xyz):
        x, y, z = xyz
        exprs = [k.sin(x) * k.exp(y) + z ** 3, k.max(x, y * z, 2) - k.log(x + 2), x / (1 + k.cos(y)) + 2 * x * y,
                 k.sqrt(x * x + y * y + 1) * z, -k.atan(x - 3 * y + 1) + k.Sum([k.exp(x), y, x * z])]
        rng = random.Random(7)
        for e in exprs:
            conv = p._convertExpr(e)
            for _ in range(5):
                pt = [rng.uniform(0.1, 2) for _ in range(3)]
                want = eval(str(e).replace("C1", "a[0]").replace("C2", "a[1]").replace("C3", "a[2]"),
                            {**vars(math), "max": max, "a": pt})
                assert eval_converted(conv, pt) == pytest.approx(want)


class TestTokensToExpression:
    def test_rebuild(self, p, xyz):
        x, y, z = xyz
        assert str(p._tokensToExpr([(10, 0), (10, 1), (31, 3), (0, 0)])) == str(x * y)
        assert str(p._tokensToExpr([(22, 0), (10, 0), (12, 27), (0, 0)])) == "sin(C1)"
        assert p._tokensToExpr([(1, 2.5)]) == 2.5
        assert str(p._tokensToExpr([(22, 0), (10, 0), (10, 1), (10, 2), (12, 34)])) == "max(C3, C2, C1)"

    @pytest.mark.parametrize("toks, msg", [
        ([], "Invalid nonlinear formula in constraint.getBody"),
        ([(10, 5)], "column 5, but there are only 3 variables"),
        ([(11, 1)], "User functions are not supported by constraint.getBody"),
        ([(10, 0), (10, 1), (0, 0)], "Invalid nonlinear formula in constraint.getBody"),
        ([(22, 0), (10, 0), (12, 99)], "Unsupported nonlinear function in constraint.getBody: 99"),
        ([(10, 0), (10, 0), (31, 9)], "Unsupported operator in constraint.getBody: 9"),
        ([(7, 0)], "Unexpected nonlinear token in constraint.getBody: 7"),
        ([(31, 5)], "Invalid nonlinear formula"),
        ([(10, 0), (12, 27)], "Invalid nonlinear formula"),
    ])
    def test_refused(self, p, xyz, toks, msg):
        with pytest.raises(k.InterfaceError, match=msg):
            p._tokensToExpr(toks)

    def test_round_trip_by_value(self, p, xyz):
        x, y, z = xyz
        rng = random.Random(3)
        for e in [k.sin(x) * k.exp(y) * z, k.max(x, y, z) + k.min(x, 2), (x - y) ** 2 / (1 + k.abs(z)),
                  k.Sum([k.sin(x), k.cos(y), k.exp(z), k.log(x + 1), k.sqrt(y + 1)])]:
            const, lin, quad, forms = p._convertExpr(e)
            for col, fac, toks in forms:
                back = p._tokensToExpr(toks)
                (_, _, again), = [f for f in formulas(p, k.exp(back))]
                for _ in range(4):
                    pt = [rng.uniform(0.2, 1.5) for _ in range(3)]
                    assert eval_tokens(again, pt) == pytest.approx(math.exp(eval_tokens(toks, pt)))


class TestGetBody:
    def test_linear_and_quadratic_rows(self, p, xyz):
        x, y, z = xyz
        c1, c2 = p.addConstraint(2 * x + 3 * y - z <= 4, x * y + x ** 2 + 3 * z >= 1)
        assert str(c1.getBody()) == str(2 * x + 3 * y - z)
        b = c2.getBody()
        assert str(b) == str(x * y + x ** 2 + 3 * z)

    def test_unlinked_constraint_body(self, xyz):
        x, y, _ = xyz
        c = x + y <= 3
        assert str(c.getBody()) == str(c.body)

    def test_nonlinear_round_trip(self, p, xyz):
        x, y, z = xyz
        bodies = [k.exp(x) + y, k.sin(x) * y * 3 + x * k.cos(y) - k.max(x, y, z), 2 * x + x * y + k.log(z + 2) / y,
                  k.sqrt(x ** 2 + 1) - k.Sum([k.atan(y), k.abs(z), k.exp(x * z)]), y * k.exp(x) * 4]
        cons = p.addConstraint([b <= 5 for b in bodies])
        assert str(cons[0].getBody()) == "C2 + exp(C1)"
        rng = random.Random(1)
        for body, c in zip(bodies, cons):
            conv_a, conv_b = p._convertExpr(body), p._convertExpr(c.getBody())
            for _ in range(5):
                pt = [rng.uniform(0.5, 1.5) for _ in range(3)]
                assert eval_converted(conv_b, pt) == pytest.approx(eval_converted(conv_a, pt))

    def test_formulas_solved_and_objective_replaced(self, p, xyz):
        x, y, _ = xyz
        p.setControl("outputlog", 0)
        p.addConstraint(x + y <= 3)
        p.setObjective(k.exp(x) * y - x, sense=k.maximize)
        p.optimize()   # on x + y = 3: exp(x) (3 - x) - x, largest where exp(x) (2 - x) = 1
        xs = p.getSolution(x)
        assert math.exp(xs) * (2 - xs) == pytest.approx(1.0, abs=1e-6)
        assert p.attributes.objval == pytest.approx(math.exp(xs) * (3 - xs) - xs, rel=1e-7)
        p.setObjective(x + 2 * y, sense=k.maximize)   # the formula objective is removed
        p.optimize()
        assert p.attributes.objval == pytest.approx(6.0)
