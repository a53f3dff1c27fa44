"""Threads changing one problem while another solves it: the calls are serialised, so the object
lists stay in step with the solver."""
import threading

import korvex


def test_threads_adding_and_deleting_while_another_solves():
    p = korvex.problem()
    p.controls.outputlog = 0
    xs = [p.addVariable(ub=10, name=f"x{j}") for j in range(4)]
    p.setObjective(-korvex.Sum(xs))
    p.addConstraint(korvex.Sum(xs) <= 30)
    names, gone, unexpected = {}, [], []
    done = threading.Event()

    def attempt(call):
        try:
            return call()
        except korvex.SolverError as e:          # a change while the solve runs is refused
            if "being solved" not in str(e):
                unexpected.append(e)
        except Exception as e:                   # noqa: BLE001 - collected and reported below
            unexpected.append(e)

    def rows(k):
        mine = []
        for r in range(400):
            name = f"t{k}r{r}"
            if k:   # unnamed rows added one per call wait in the problem until the next read or change
                c = attempt(lambda: p.addConstraint(xs[r % 4] + xs[(r + 1) % 4] <= 15))
                attempt(lambda: p.attributes.rows)
            else:
                c = attempt(lambda: p.addConstraint(korvex.constraint(xs[r % 4] + xs[(r + 1) % 4] <= 15, name=name)))
                if c is not None:
                    names[c] = name
            if c is not None:
                mine.append(c)
            if len(mine) > 3 and attempt(lambda: p.delRows([mine[0]]) or True):
                gone.append(mine.pop(0))

    def cols(k):
        mine = []
        for r in range(400):
            name = f"t{k}c{r}"
            v = attempt(lambda: p.addVariable(ub=1, name=name))
            if v is not None:
                names[v] = name
                mine.append(v)
            if len(mine) > 3 and attempt(lambda: p.delCols([mine[-1]]) or True):
                gone.append(mine.pop())
            attempt(lambda: p.addRows("L", [5], start=[0], colind=[0, 1], rowcoef=[1, 1]))

    def solves():
        while not done.is_set():
            p.optimize()

    workers = [threading.Thread(target=rows, args=(k,)) for k in range(2)]
    workers += [threading.Thread(target=cols, args=(k,)) for k in range(2)]
    solver = threading.Thread(target=solves)
    solver.start()
    for t in workers:
        t.start()
    for t in workers:
        t.join()
    done.set()
    solver.join()
    assert unexpected == [], unexpected[:3]
    cons, vars_ = p.getConstraint(), p.getVariable()
    assert (len(cons), len(vars_)) == (p.attributes.rows, p.attributes.cols)
    for objs in (cons, vars_):
        assert [o.index for o in objs] == list(range(len(objs)))
    assert not {id(o) for o in gone} & {id(o) for o in cons + vars_}
    for obj in cons + vars_:
        if obj in names:
            assert obj.name == names[obj]
    assert p.optimize()[1] == korvex.SolStatus.OPTIMAL
