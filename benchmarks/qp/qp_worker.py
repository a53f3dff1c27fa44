"""One timed solve of lqcp-N by one solver (run by bench_qp_peers.py in the solver's own
environment): prints the solve time (building excluded), the objective and the status as JSON."""
import json
import sys
import time

import numpy as np
import scipy.sparse as sp

from lqcp import lqcp


def korvex_problem(q):
    import korvex
    A = q["A"].tocsc()
    m = A.shape[0]
    nz = np.flatnonzero(q["qdiag"]).astype(np.int32)
    p = korvex.problem()
    p.setControl("outputlog", 0)
    p.loadQP("lqcp", "E" * m, np.zeros(m), None, q["cost"], A.indptr.astype(np.int64), None,
             A.indices.astype(np.int32), A.data, q["lb"], q["ub"], nz, nz, q["qdiag"][nz])
    return p


def korvex_solve(q, threads):
    p = korvex_problem(q)
    if threads:
        p.setControl("threads", threads)
    t0 = time.perf_counter()
    status = p.optimize()
    t = time.perf_counter() - t0
    return t, p.attributes.objval + q["offset"], status[1].name


def clarabel_solve(q):
    import clarabel
    A, n = q["A"], q["A"].shape[1]
    m = A.shape[0]
    P = sp.triu(sp.diags(q["qdiag"])).tocsc()
    Ac = sp.vstack([A, sp.eye(n), -sp.eye(n)]).tocsc()
    b = np.concatenate([np.zeros(m), q["ub"], -q["lb"]])
    settings = clarabel.DefaultSettings()
    settings.verbose = False
    t0 = time.perf_counter()
    s = clarabel.DefaultSolver(P, q["cost"], Ac, b, [clarabel.ZeroConeT(m), clarabel.NonnegativeConeT(2 * n)],
                               settings)
    sol = s.solve()
    return time.perf_counter() - t0, sol.obj_val + q["offset"], str(sol.status)


def osqp_solve(q):
    import osqp
    A, n = q["A"], q["A"].shape[1]
    m = A.shape[0]
    t0 = time.perf_counter()
    o = osqp.OSQP()
    o.setup(sp.diags(q["qdiag"]).tocsc(), q["cost"], sp.vstack([A, sp.eye(n)]).tocsc(),
            np.concatenate([np.zeros(m), q["lb"]]), np.concatenate([np.zeros(m), q["ub"]]), verbose=False,
            eps_abs=1e-6, eps_rel=1e-6, polish=True, max_iter=1000000)
    r = o.solve()
    return time.perf_counter() - t0, r.info.obj_val + q["offset"], r.info.status


def highs_solve(q, limit):
    import highspy
    A = q["A"].tocsc()
    m, n = A.shape
    h = highspy.Highs()
    h.setOptionValue("output_flag", False)
    h.setOptionValue("time_limit", limit)
    lp = highspy.HighsLp()
    lp.num_col_, lp.num_row_ = n, m
    lp.col_cost_, lp.col_lower_, lp.col_upper_ = q["cost"], q["lb"], q["ub"]
    lp.row_lower_, lp.row_upper_ = np.zeros(m), np.zeros(m)
    lp.a_matrix_.format_ = highspy.MatrixFormat.kColwise
    lp.a_matrix_.start_, lp.a_matrix_.index_, lp.a_matrix_.value_ = A.indptr, A.indices, A.data
    model = highspy.HighsModel()
    model.lp_ = lp
    nz = np.flatnonzero(q["qdiag"])
    hess = highspy.HighsHessian()
    hess.dim_, hess.format_ = n, highspy.HessianFormat.kTriangular
    hess.start_ = np.searchsorted(nz, np.arange(n + 1)).astype(np.int32)
    hess.index_, hess.value_ = nz.astype(np.int32), q["qdiag"][nz]
    model.hessian_ = hess
    h.passModel(model)
    t0 = time.perf_counter()
    h.run()
    t = time.perf_counter() - t0
    return t, h.getInfo().objective_function_value + q["offset"], h.modelStatusToString(h.getModelStatus())


if __name__ == "__main__":
    solver, N = sys.argv[1], int(sys.argv[2])
    q = lqcp(N)
    if solver.startswith("korvex"):
        t, obj, status = korvex_solve(q, int(solver[6:] or 0))
    elif solver == "clarabel":
        t, obj, status = clarabel_solve(q)
    elif solver == "osqp":
        t, obj, status = osqp_solve(q)
    else:
        t, obj, status = highs_solve(q, float(sys.argv[3]))
    print(json.dumps(dict(time=t, obj=obj, status=status)))
