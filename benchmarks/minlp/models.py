"""Small MINLPLib instances written from their published formulations, for the MINLP benchmark
and the tests. Each model is a function of a builder `m` with

    m.var(lb, ub, kind="C")   a column ("C", "B" or "I"), bounds +-INF when free
    m.rows(*constraints)      constraints written with the columns' operators
    m.sqrt, m.exp, m.log      the builder's functions

and returns the column to minimise (the instances' own objective column). korvex_problem()
builds one with korvex; the benchmark builds the same functions with its peer's API.
"""
INF = float("inf")

# published optima (MINLPLib)
OPTIMA = {
    "ex1221": 7.6672, "ex1222": 1.0765, "ex1223": 4.5796, "ex1223a": 4.5796, "ex1224": -0.9435,
    "ex1225": 31.0, "ex1226": -17.0, "gbd": 2.2, "st_e13": 2.0, "synthes1": 6.0098,
    "synthes2": 73.0353, "synthes3": 68.0097, "nvs03": 16.0, "nvs04": 0.72, "nvs05": 5.4709,
    "nvs14": -40358.1548, "nvs22": 6.0582, "alan": 2.925,
}
# the benchmark's set: convex or small, solved by both engines to the same optimum
BENCHMARK = ["ex1221", "ex1222", "ex1223", "ex1223a", "ex1224", "ex1225", "ex1226", "gbd", "st_e13",
             "synthes1", "synthes2", "synthes3", "nvs03", "nvs04", "nvs14", "alan"]


def sq(e):
    return e ** 2


def pw(e, n):
    return e ** n


def cols(m, n, lb, ub, kind="C"):
    """n columns of one kind and bounds, in order."""
    return [m.var(lb, ub, kind) for _ in range(n)]


def ex1221(m):
    x1, x2 = cols(m, 2, 0, 10)
    b3, b4, b5 = cols(m, 3, 0, 1, 'B')
    objvar = m.var(-INF, INF)
    m.rows(
        - 2*x1 - 3*x2 - 1.5*b3 - 2*b4 + 0.5*b5 + objvar == 0,
        sq(x1) + b3 == 1.25,
        x2**1.5 + 1.5*b4 == 3,
        x1 + b3 <= 1.6,
        1.333*x2 + b4 <= 3,
        - b3 - b4 + b5 <= 0,
    )
    return objvar


def ex1222(m):
    x1 = m.var(0.2, 1)
    x2 = m.var(-2.22554, -1)
    b3 = m.var(0, 1, 'B')
    objvar = m.var(-INF, INF)
    m.rows(
        - m.exp(x1 - 0.2) - x2 <= 0,
        x2 + 1.1*b3 <= -1,
        x1 - 1.2*b3 <= 0,
        - 5*sq(x1 - 0.5) + 0.7*b3 + objvar == 0.8,
    )
    return objvar


def ex1223(m):
    x1, x2, x3 = cols(m, 3, 0, 10)
    x4, x5, x6, x7 = cols(m, 4, 0, 1)
    b8, b9, b10, b11 = cols(m, 4, 0, 1, 'B')
    objvar = m.var(-INF, INF)
    m.rows(
        x1 + x2 + x3 + b8 + b9 + b10 <= 5,
        sq(x6) + sq(x1) + sq(x2) + sq(x3) <= 5.5,
        x1 + b8 <= 1.2,
        x2 + b9 <= 1.8,
        x3 + b10 <= 2.5,
        x1 + b11 <= 1.2,
        sq(x5) + sq(x2) <= 1.64,
        sq(x6) + sq(x3) <= 4.25,
        sq(x5) + sq(x3) <= 4.64,
        x4 - b8 == 0,
        x5 - b9 == 0,
        x6 - b10 == 0,
        x7 - b11 == 0,
        - (sq(x4 - 1) + sq(x5 - 2) + sq(x6 - 1) - m.log(1 + x7) + sq(x1 - 1) + sq(x2 - 2) + sq(x3 - 3)) + objvar == 0,
    )
    return objvar


def ex1223a(m):
    x1, x2, x3 = cols(m, 3, 0, 10)
    b4, b5, b6, b7 = cols(m, 4, 0, 1, 'B')
    objvar = m.var(-INF, INF)
    m.rows(
        x1 + x2 + x3 + b4 + b5 + b6 <= 5,
        sq(x1) + sq(x2) + sq(x3) + b6 <= 5.5,
        x1 + b4 <= 1.2,
        x2 + b5 <= 1.8,
        x3 + b6 <= 2.5,
        x1 + b7 <= 1.2,
        sq(x2) + b5 <= 1.64,
        sq(x3) + b6 <= 4.25,
        sq(x3) + b5 <= 4.64,
        - (sq(x1 - 1) + sq(x2 - 2) + sq(x3 - 3)) + b4 + 3*b5 + b6 + 0.693147180559945*b7 + objvar == 6,
    )
    return objvar


def ex1224(m):
    x1 = m.var(0, 0.997)
    x2 = m.var(0, 0.9985)
    x3 = m.var(0, 0.9988)
    b4, b5, b6, b7, b8, b9, b10, b11 = cols(m, 8, 0, 1, 'B')
    objvar = m.var(-INF, INF)
    m.rows(
        x1*x2*x3 + objvar == 0,
        - m.log(1 - x1) - 2.30258509299405*b4 - 1.6094379124341*b5 - 1.89711998488588*b6 == 0,
        - m.log(1 - x2) - 2.99573227355399*b7 - 1.6094379124341*b8 - 1.89711998488588*b9 == 0,
        - m.log(1 - x3) - 3.91202300542815*b10 - 2.81341071676004*b11 <= 0,
        - b4 - b5 - b6 <= -1,
        - b7 - b8 - b9 <= -1,
        - b10 - b11 <= -1,
        3*b4 + b5 + 2*b6 + 3*b7 + 2*b8 + b9 + 3*b10 + 2*b11 <= 10,
    )
    return objvar


def ex1225(m):
    x1, x2 = cols(m, 2, 1, 5)
    b3, b4, b5, b6, b7, b8 = cols(m, 6, 0, 1, 'B')
    objvar = m.var(-INF, INF)
    m.rows(
        - 7*x1 - 10*x2 + objvar == 0,
        x1**1.2*x2**1.7 - 7*x1 - 9*x2 <= -24,
        - x1 - 2*x2 <= -5,
        - 3*x1 + x2 <= 1,
        4*x1 - 3*x2 <= 11,
        x1 - b3 - 2*b4 - 4*b5 == 1,
        x2 - b6 - 2*b7 - 4*b8 == 1,
        b3 + b5 <= 1,
        b6 + b8 <= 1,
        b4 + b5 <= 1,
        b7 + b8 <= 1,
    )
    return objvar


def ex1226(m):
    x1 = m.var(1, 10)
    x2 = m.var(1, 6)
    b3, b4, b5 = cols(m, 3, 0, 1, 'B')
    objvar = m.var(-INF, INF)
    m.rows(
        8*x1 - 2*x1**0.5*sq(x2) + 11*x2 + 2*sq(x2) - 2*x2**0.5 <= 39,
        x1 - x2 <= 3,
        3*x1 + 2*x2 <= 24,
        x2 - b3 - 2*b4 - 4*b5 == 1,
        b4 + b5 <= 1,
        5*x1 - 3*x2 + objvar == 0,
    )
    return objvar


def gbd(m):
    objvar = m.var(-INF, INF)
    x2 = m.var(0.2, 1)
    b3, b4, b5 = cols(m, 3, 0, 1, 'B')
    m.rows(
        - 5*sq(x2) + objvar - b3 - b4 - b5 == 0,
        3*x2 - b3 - b4 <= 0,
        - x2 + 0.1*b4 + 0.25*b5 <= 0,
        b3 + b4 + b5 >= 2,
        b3 + b4 + 2*b5 >= 2,
    )
    return objvar


def st_e13(m):
    b1 = m.var(0, 1, 'B')
    x2 = m.var(0, 1.6)
    objvar = m.var(-INF, INF)
    m.rows(
        - sq(x2) - b1 <= -1.25,
        b1 + x2 <= 1.6,
        - b1 - 2*x2 + objvar == 0,
    )
    return objvar


def synthes1(m):
    x1, x2 = cols(m, 2, 0, 2)
    x3 = m.var(0, 1)
    b4, b5, b6 = cols(m, 3, 0, 1, 'B')
    objvar = m.var(-INF, INF)
    m.rows(
        - (-18*m.log(1 + x2) - 19.2*m.log(1 + x1 - x2) + 10*x1) + 7*x3 - 5*b4 - 6*b5 - 8*b6 + objvar == 10,
        0.8*m.log(1 + x2) + 0.96*m.log(1 + x1 - x2) - 0.8*x3 >= 0,
        m.log(1 + x2) + 1.2*m.log(1 + x1 - x2) - x3 - 2*b6 >= -2,
        - x1 + x2 <= 0,
        x2 - 2*b4 <= 0,
        x1 - x2 - 2*b5 <= 0,
        b4 + b5 <= 1,
    )
    return objvar


def synthes2(m):
    x1, x2, x3 = cols(m, 3, 0, 2)
    x4, x5 = cols(m, 2, 0, INF)
    x6 = m.var(0, 3)
    b7, b8, b9, b10, b11 = cols(m, 5, 0, 1, 'B')
    objvar = m.var(-INF, INF)
    m.rows(
        - m.log(1 + x4 + x5) <= 0,
        m.exp(x1) - 10*b7 <= 1,
        m.exp(0.833333*x2) - 10*b8 <= 1,
        1.25*x3 - 10*b9 <= 0,
        x4 + x5 - 10*b10 <= 0,
        - 2*x3 + 2*x6 - 10*b11 <= 0,
        - x1 - x2 - 2*x3 + x4 + 2*x6 <= 0,
        - x1 - x2 - 0.75*x3 + x4 + 2*x6 <= 0,
        x3 - x6 <= 0,
        2*x3 - x4 - 2*x6 <= 0,
        - 0.5*x4 + x5 <= 0,
        - 0.2*x4 - x5 <= 0,
        b7 + b8 == 1,
        b10 + b11 <= 1,
        - (m.exp(x1) - 10*x1 + m.exp(0.833333*x2) - 15*x2 - 60*m.log(1 + x4 + x5) + 15*x4 + 5*x5) + 15*x3 + 20*x6 - 5*b7 - 8*b8 - 6*b9 - 10*b10 - 6*b11 + objvar == 140,
    )
    return objvar


def synthes3(m):
    x1, x2 = cols(m, 2, 0, 2)
    x3 = m.var(0, 1)
    x4, x5, x6, x7 = cols(m, 4, 0, 2)
    x8 = m.var(0, 1)
    x9 = m.var(0, 3)
    b10, b11, b12, b13, b14, b15, b16, b17 = cols(m, 8, 0, 1, 'B')
    objvar = m.var(-INF, INF)
    m.rows(
        (-1.5*m.log(1 + x5)) - m.log(1 + x6) - x8 <= 0,
        - m.log(1 + x3 + x4) <= 0,
        - x1 - x2 + x3 + 2*x4 + 0.8*x5 + 0.8*x6 - 0.5*x7 - x8 - 2*x9 <= 0,
        - x1 - x2 + 2*x4 + 0.8*x5 + 0.8*x6 - 2*x7 - x8 - 2*x9 <= 0,
        - 2*x4 - 0.8*x5 - 0.8*x6 + 2*x7 + x8 + 2*x9 <= 0,
        - 0.8*x5 - 0.8*x6 + x8 <= 0,
        - x4 + x7 + x9 <= 0,
        - 0.4*x5 - 0.4*x6 + 1.5*x8 <= 0,
        0.16*x5 + 0.16*x6 - 1.2*x8 <= 0,
        x3 - 0.8*x4 <= 0,
        - x3 + 0.4*x4 <= 0,
        m.exp(x1) - 10*b10 <= 1,
        m.exp(0.833333*x2) - 10*b11 <= 1,
        x7 - 10*b12 <= 0,
        0.8*x5 + 0.8*x6 - 10*b13 <= 0,
        2*x4 - 2*x7 - 2*x9 - 10*b14 <= 0,
        x5 - 10*b15 <= 0,
        x6 - 10*b16 <= 0,
        x3 + x4 - 10*b17 <= 0,
        b10 + b11 == 1,
        b13 + b14 <= 1,
        - b13 + b15 + b16 == 0,
        b12 - b17 <= 0,
        - (m.exp(x1) - 10*x1 + m.exp(0.833333*x2) - 15*x2 - 65*m.log(1 + x3 + x4) + 15*x3 + 80*x4 - 90*m.log(1 + x5) + 25*x5 - 80*m.log(1 + x6) + 35*x6) + 40*x7 - 15*x8 + 35*x9 - 5*b10 - 8*b11 - 6*b12 - 10*b13 - 6*b14 - 7*b15 - 4*b16 - 5*b17 + objvar == 120,
    )
    return objvar


def nvs03(m):
    i1, i2 = cols(m, 2, 0, 200, 'I')
    objvar = m.var(-INF, INF)
    m.rows(
        - 0.1*sq(i1) + i2 >= 0,
        - 0.333333333333333*i1 - i2 >= -4.5,
        - (sq(i1 - 8) + sq(i2 - 2)) + objvar == 0,
    )
    return objvar


def nvs04(m):
    i1, i2 = cols(m, 2, 0, 200, 'I')
    objvar = m.var(-INF, INF)
    m.rows(
        - (100*sq(0.5 + i2 - sq(0.6 + i1)) + sq(0.4 - i1)) + objvar == 0,
    )
    return objvar


def _beam(m, lb34, ub34, kind34, k8, k9):
    """nvs05 and nvs22: one design family; columns 3 and 4 and two coefficients differ."""
    i1, i2 = cols(m, 2, 1, 200, 'I')
    x3, x4 = cols(m, 2, lb34, ub34, kind34)
    x5, x6, x7, x8, objvar = cols(m, 5, -INF, INF)
    m.rows(
        - 4243.28147100424/(x3*x4) + x5 == 0,
        - m.sqrt(0.25*sq(x4) + sq(0.5*i1 + 0.5*x3)) + x7 == 0,
        - 0.707213578500707*(84000 + 3000*x4)*x7/(x3*x4*(0.0833333333333333*sq(x4) + sq(0.5*i1 + 0.5*x3))) + x6 == 0,
        - 0.5*x4/x7 + x8 == 0,
        - m.sqrt(sq(x5) + 2*x5*x6*x8 + sq(x6)) >= -13600,
        - 504000/(i2*sq(i1)) >= -30000,
        i2 - x3 >= 0,
        0.0204744897959184*m.sqrt(k8*i1*pw(i2,3)*i1*pw(i2,3))*(1 - 0.0282346219657891*i1) >= 6000,
        - k9/(i2*pw(i1,3)) >= -0.25,
        - (1.10471*sq(x3)*x4 + 0.04811*i1*i2*(14 + x4)) + objvar == 0,
    )
    return objvar


def nvs05(m):
    return _beam(m, 0.01, 200, 'C', 1e15, 0.21952)


def nvs14(m):
    i1, i2, i3, i4, i5 = cols(m, 5, 0, 200, 'I')
    x6 = m.var(0, 92)
    x7 = m.var(90, 110)
    x8 = m.var(20, 25)
    objvar = m.var(-INF, INF)
    m.rows(
        - (0.0056858*i2*i5 + 0.0006262*i1*i4 - 0.0022053*i3*i5) + x6 == 85.334407,
        - (0.0071317*i2*i5 + 0.0029955*i1*i2 + 0.0021813*sq(i3)) + x7 == 80.51249,
        - (0.0047026*i3*i5 + 0.0012547*i1*i3 + 0.0019085*i3*i4) + x8 == 9.300961,
        - (5.3578547*sq(i3) + 0.8356891*i1*i5 + 37.293239*i1) + objvar == -40792.141,
    )
    return objvar


def nvs22(m):
    return _beam(m, 1, 20, 'I', 10000000000000, 2.1952)


def alan(m):
    x1, x2, x3, x4 = cols(m, 4, 0, INF)
    objvar = m.var(-INF, INF)
    b6, b7, b8, b9 = cols(m, 4, 0, 1, 'B')
    m.rows(
        x1 + x2 + x3 + x4 == 1,
        8*x1 + 9*x2 + 12*x3 + 7*x4 == 10,
        x1*(4*x1 + 3*x2 - x3) + x2*(3*x1 + 6*x2 + x3) + x3*(x2 - x1 + 10*x3) <= objvar,
        x1 - b6 <= 0,
        x2 - b7 <= 0,
        x3 - b8 <= 0,
        x4 - b9 <= 0,
        b6 + b7 + b8 + b9 <= 3,
    )
    return objvar


class KorvexBuilder:
    def __init__(self, korvex):
        self.k = korvex
        self.p = korvex.problem()
        self.p.setControl("outputlog", 0)
        self.sqrt, self.exp, self.log = korvex.sqrt, korvex.exp, korvex.log

    def var(self, lb, ub, kind="C"):
        k = self.k
        vartype = {"C": k.continuous, "B": k.binary, "I": k.integer}[kind]
        return self.p.addVariable(lb=-k.infinity if lb == -INF else lb, ub=k.infinity if ub == INF else ub,
                                  vartype=vartype)

    def rows(self, *constraints):
        self.p.addConstraint(*constraints)


def korvex_problem(name):
    """The instance as a korvex problem, its objective set."""
    import korvex
    b = KorvexBuilder(korvex)
    b.p.setObjective(globals()[name](b))
    return b.p
