"""An infeasible model analysed (irreducible infeasible set, repair), sensitivity of an LP, and
a mixed-integer nonlinear model with an exact absolute value."""
import korvex

korvex.setOutputEnabled(False)

# x + y >= 5 cannot hold with x, y <= 2
p = korvex.problem()
x = p.addVariable(ub=2, name="x")
y = p.addVariable(ub=2, name="y")
p.addConstraint(korvex.constraint(x + y >= 5, name="demand"), korvex.constraint(x - y == 0, name="balance"))
p.setObjective(x + y)
print("infeasible model:", p.optimize()[1].name)
p.firstIIS(1)
rows, cols, contype, bndtype, duals, djs, _, _ = p.getIISData(1)
print(f"  IIS: rows {rows} ({contype}), bounds {list(zip(cols, bndtype))}, multipliers {duals} {djs}")
status = p.repairInfeas("c", "o", " ", 1.0, 1.0, 1.0, 1.0, 0.0)
print(f"  repair status {status}: violation {p.attributes.penaltyvalue:g}, x, y = {p.getSolution([x, y])}")

# ranges of the objective coefficients that keep the optimal basis
q = korvex.problem()
a, b = q.addVariable(name="a"), q.addVariable(name="b")
q.addConstraint(a + 2 * b <= 4, 3 * a + b <= 6)
q.setObjective(a + b, sense=korvex.maximize)
q.optimize()
lower, upper = q.objSA([a, b])
print(f"LP optimum {q.attributes.objval:g}; cost ranges a [{lower[0]:g}, {upper[0]:g}], b [{lower[1]:g}, {upper[1]:g}]")

# an integer u and a continuous v near (1.3, 0.7), kept close to each other
r = korvex.problem()
u = r.addVariable(vartype=korvex.integer, lb=-5, ub=5, name="u")
v = r.addVariable(lb=-3, ub=3, name="v")
r.setObjective((u - 1.3) ** 2 + (v - 0.7) ** 2 + korvex.abs(u - v))
solvestatus, solstatus = r.optimize()
print(f"MINLP: {solstatus.name}, objective {r.attributes.objval:.4f}, u, v = {[round(t, 4) for t in r.getSolution([u, v])]}")
