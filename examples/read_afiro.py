"""Reads the Netlib problem afiro (examples/data), solves it and prints the result."""
import os

import korvex

korvex.setOutputEnabled(False)   # the solver's own log is not shown

here = os.path.dirname(os.path.abspath(__file__))
path = os.path.join(here, "data", "afiro.mps.gz")

p = korvex.problem()
p.readProb(path)
print(f"read {p.getProbName()}: {p.attributes.rows} rows, {p.attributes.cols} columns")
solvestatus, solstatus = p.optimize()
print(f"solve status {solvestatus.name}, solution status {solstatus.name}")
print(f"objective {p.attributes.objval:.10g}")
