"""An LP and a MIP loaded from arrays with loadLP and loadMIP, solved with optimize()."""
import korvex

korvex.setOutputEnabled(False)   # the solver's own log is not shown

# maximise 3x + 2y (as: minimise -3x - 2y)
#   x +  y <= 4
#   x + 3y <= 6
#   0 <= x <= 3, y >= 0
lp = korvex.problem()
lp.loadLP(probname="small_lp",
          rowtype="LL", rhs=[4, 6],
          objcoef=[-3, -2],
          start=[0, 2, 4], rowind=[0, 1, 0, 1], rowcoef=[1, 1, 1, 3],
          lb=[0, 0], ub=[3, korvex.infinity])
solvestatus, solstatus = lp.optimize()
print(f"LP:  solve status {solvestatus.name}, solution status {solstatus.name}")
print(f"     objective {lp.attributes.objval:g}, x = {[v + 0.0 for v in lp.getSolution()]}")

# minimise -5x - 4y with x and y integer
#   6x + 4y <= 24
#    x + 2y <= 6
mip = korvex.problem()
mip.loadMIP(probname="small_mip",
            rowtype="LL", rhs=[24, 6],
            objcoef=[-5, -4],
            start=[0, 2, 4], rowind=[0, 1, 0, 1], rowcoef=[6, 1, 4, 2],
            lb=[0, 0], ub=[10, 10],
            coltype="II", entind=[0, 1])
solvestatus, solstatus = mip.optimize()
print(f"MIP: solve status {solvestatus.name}, solution status {solstatus.name}")
print(f"     objective {mip.attributes.objval:g}, x = {[v + 0.0 for v in mip.getSolution()]}")
