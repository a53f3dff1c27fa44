"""Enumerations that solver values are mapped into."""
from enum import IntEnum


class SolveStatus(IntEnum):
    UNSTARTED = 0
    STOPPED = 1
    FAILED = 2
    COMPLETED = 3


class SolStatus(IntEnum):
    NOTFOUND = 0
    OPTIMAL = 1
    FEASIBLE = 2
    INFEASIBLE = 3
    UNBOUNDED = 4


class ParameterType(IntEnum):
    NOTDEFINED = 0
    INT = 1
    INT64 = 2
    DOUBLE = 3
    STRING = 4


class StopType(IntEnum):
    NONE = 0
    TIMELIMIT = 1
    CTRLC = 2
    NODELIMIT = 3
    ITERLIMIT = 4
    MIPGAP = 5
    SOLLIMIT = 6
    GENERICERROR = 7
    MEMORYERROR = 8
    USER = 9
    SOLVECOMPLETE = 10
    LICENSELOST = 11
    NUMERICALERROR = 13
    LOCALLYINFEASIBLE = 14


class Namespaces(IntEnum):
    ROW = 1
    COLUMN = 2
    SET = 3
    PWLCONS = 4
    GENCONS = 5
    OBJECTIVE = 6
    USERFUNC = 7
    INTERNALFUNC = 8


class GenConsType(IntEnum):
    MAX = 0
    MIN = 1
    AND = 2
    OR = 3
    ABS = 4


class BasisStatus(IntEnum):
    NONBASIC_LOWER = 0
    BASIC = 1
    NONBASIC_UPPER = 2
    SUPERBASIC = 3


class LPStatus(IntEnum):
    UNSTARTED = 0
    OPTIMAL = 1
    INFEAS = 2
    CUTOFF = 3
    UNFINISHED = 4
    UNBOUNDED = 5
    CUTOFF_IN_DUAL = 6
    UNSOLVED = 7
    NONCONVEX = 8


class MIPStatus(IntEnum):
    NOT_LOADED = 0
    LP_NOT_OPTIMAL = 1
    LP_OPTIMAL = 2
    NO_SOL_FOUND = 3
    SOLUTION = 4
    INFEAS = 5
    OPTIMAL = 6
    UNBOUNDED = 7
