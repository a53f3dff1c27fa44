"""Reads the Netlib problem afiro from the shared test data, solves it and prints the result."""
import os
import sys

import korvex

korvex.setOutputEnabled(False)   # the solver's own log is not shown

here = os.path.dirname(os.path.abspath(__file__))
path = os.path.normpath(os.path.join(here, "..", "..", "shared", "data", "netlib", "afiro.mps.gz"))
if not os.path.exists(path):
    print(f"skipped: {path} is absent")
    sys.exit(0)

p = korvex.problem()
p.readProb(path)
print(f"read {p.getProbName()}: {p.attributes.rows} rows, {p.attributes.cols} columns")
solvestatus, solstatus = p.optimize()
print(f"solve status {solvestatus.name}, solution status {solstatus.name}")
print(f"objective {p.attributes.objval:.10g}")
