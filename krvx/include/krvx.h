/* libkrvx: optimisation solver library.
 *
 * Every function returns 0 on success and a non-zero code on failure; after a failure
 * KRVXgetlasterror(prob, buf) writes the problem's last error text (at most 512 characters
 * and a terminator). Calls that take no problem leave their error in the global last error,
 * read with KRVXgetlasterror(NULL, buf).
 *
 * Array arguments of the _witharraysizes forms are each followed by their element count
 * (int64); an absent array is NULL with count 0. Packed names are name NUL name NUL ...,
 * followed by the byte count and the name count (both int64).
 */
#ifndef KRVX_H
#define KRVX_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define KRVX_API __attribute__((visibility("default")))
#else
#define KRVX_API
#endif

typedef struct ko_prob_struct ko_prob_struct;    /* a problem */
typedef struct tagKRVNproblem tagKRVNproblem;     /* the nonlinear layer of a problem */
typedef ko_prob_struct *KRVXprob;

#define KRVX_MAXERRLEN 512
#define KRVX_MAXPROBNAMELENGTH 1024
#define KRVX_PLUSINFINITY 1.0e20
#define KRVX_MINUSINFINITY (-1.0e20)

/* ---- integer attribute ids ---- */
#define KRVX_ROWS            1001
#define KRVX_COLS            1018
#define KRVX_SPAREROWS       1019
#define KRVX_PRESOLVESTATE   1026
#define KRVX_NAMELENGTH      1028
#define KRVX_ORIGINALROWS    1124
#define KRVX_ORIGINALSETS    1194
#define KRVX_ORIGINALCOLS    1214
#define KRVX_PWLCONS         1325
#define KRVX_GENCONS         1327
#define KRVX_INPUTCOLS       1409
/* nonlinear layer */
#define KRVN_NLPCOLS         12000
#define KRVN_DEFAULTFORMULACOL 12013

/* ---- control ids (controls are reached by name, case-insensitive) ---- */
/* int */
#define KRVX_LPITERLIMIT     8001
#define KRVX_MAXNODE         8002
#define KRVX_THREADS         8003
#define KRVX_PRESOLVE        8004   /* 0 off, 1 on */
#define KRVX_OUTPUTLOG       8005   /* 0 silences the solver */
#define KRVX_MAXIIS          8006   /* -1 no limit */
#define KRVX_DEFAULTALG      8007   /* 1 automatic, 2 dual, 3 primal, 4 barrier, 5 network */
/* double */
#define KRVX_TIMELIMIT       8101   /* seconds; <= 0 none */
#define KRVX_MIPRELSTOP      8102
#define KRVX_MIPABSSTOP      8103
#define KRVX_FEASTOL         8104
#define KRVX_OPTIMALITYTOL   8105
#define KRVX_MIPTOL          8106   /* default 5e-6 */

/* ---- further attribute ids ---- */
/* int */
#define KRVX_SETS            1004
#define KRVX_ELEMS           1006
#define KRVX_MIPENTS         1032
#define KRVX_LPSTATUS        1010
#define KRVX_MIPSTATUS       1011
#define KRVX_SOLVESTATUS     1394
#define KRVX_SOLSTATUS       1395
#define KRVX_SIMPLEXITER     1009
#define KRVX_BARITER         4001
#define KRVX_NODES           1013
#define KRVX_STOPSTATUS      1179
/* double */
#define KRVX_OBJVAL          2118
#define KRVX_BESTBOUND       2004
#define KRVX_TIME            2121
#define KRVX_PENALTYVALUE    2061

/* ---- parameter types ---- */
#define KRVX_TYPE_NOTDEFINED 0
#define KRVX_TYPE_INT        1
#define KRVX_TYPE_INT64      2
#define KRVX_TYPE_DOUBLE     3
#define KRVX_TYPE_STRING     4

/* ---- statuses ---- */
/* solve status */
#define KRVX_SOLVESTATUS_UNSTARTED 0
#define KRVX_SOLVESTATUS_STOPPED   1
#define KRVX_SOLVESTATUS_FAILED    2
#define KRVX_SOLVESTATUS_COMPLETED 3
/* solution status: 1 and 2 mean a solution is available */
#define KRVX_SOLSTATUS_NOTFOUND   0
#define KRVX_SOLSTATUS_OPTIMAL    1
#define KRVX_SOLSTATUS_FEASIBLE   2
#define KRVX_SOLSTATUS_INFEASIBLE 3
#define KRVX_SOLSTATUS_UNBOUNDED  4
/* stop reasons */
#define KRVX_STOP_USER 9

/* ---- library life cycle (counted) ---- */
/* Starts the library; each call adds one to a start count that KRVXfree takes back. path may be
 * NULL or ""; a path given must exist. Fails when it does not. */
KRVX_API int KRVXinit(const char *path);      /* path may be NULL */
/* Undoes one KRVXinit. Fails when the library is not started. */
KRVX_API int KRVXfree(void);
/* Writes the library's version text ("major.minor.patch") to buf. Returns 1 when buf is NULL. */
KRVX_API int KRVXgetversion(char *buf);       /* at least 16 bytes */
/* The folder holding the global engine's library (SCIP 10 from the pyscipopt package), as the
 * host found it; NULL or "" forgets it. Loaded on the first global solve (flag 'x'). */
KRVX_API int KRVXsetscipfolder(const char *folder);

/* ---- problems ---- */
/* Creates an empty problem and writes its handle to *prob (NULL on failure). Fails when prob is
 * NULL or the library is not started (KRVXinit). */
KRVX_API int KRVXcreateprob(KRVXprob *prob);
/* Frees a problem and everything it holds (solver instance, log file, nonlinear layer); waits
 * for calls on it still running. Fails for NULL and while the problem is being solved. */
KRVX_API int KRVXdestroyprob(KRVXprob prob);
/* Replaces dest with a copy of src: its data, solution, controls and tuner method. probname:
 * the copy's name (NULL or "" keeps src's name). Fails when either is NULL, they are the same problem
 * or dest is being solved; dest is unchanged then. */
KRVX_API int KRVXcopyprob(KRVXprob dest, KRVXprob src, const char *probname);
/* Writes the handle of prob's nonlinear layer to *nlprob (see "nonlinear layer" below). */
KRVX_API int KRVXnlpcreateprob(KRVXprob prob, tagKRVNproblem **nlprob);   /* the nonlinear layer of prob */

/* ---- errors ---- */
/* Writes the last error text (see the top of this file) to buf, "" when there was none.
 * Fails when buf is NULL. */
KRVX_API int KRVXgetlasterror(KRVXprob prob, char *buf);   /* prob NULL: the global last error */
/* The last error text of the layer's problem (as KRVXgetlasterror; NULL: the global one). */
KRVX_API int KRVNgetlasterror(tagKRVNproblem *nlprob, char *buf);

/* ---- messages ----
 * The handler receives the problem (NULL for library-wide messages), user data, the text
 * (without line end), its length and the message type (1 info, 2 unused, 3 warning, 4 error;
 * a negative type asks to flush). It may be called from any thread. */
typedef void (*KRVXmessagefunc)(KRVXprob prob, void *data, const char *msg, int len, int msgtype);
/* Registers handler f with its data for prob's messages (prob NULL: for every problem's and
 * the library's messages). A pair already registered is not added twice. Fails when f is NULL. */
KRVX_API int KRVXaddmessagehandler(KRVXprob prob, KRVXmessagefunc f, void *data);   /* prob NULL: global */
/* Removes the handler f registered with the same data. Fails when that pair is not registered. */
KRVX_API int KRVXremovemessagehandler(KRVXprob prob, KRVXmessagefunc f, void *data);
/* Suppresses (status 0) or shows (any other status) messages of number msgcode, on prob or,
 * with prob NULL, library-wide (a problem's own setting wins). Fails when msgcode <= 0. */
KRVX_API int KRVXsetmessagestatus(KRVXprob prob, int msgcode, int status);
/* Writes 1 to *status when messages of number msgcode are shown, 0 when suppressed (shown by
 * default). Fails when msgcode <= 0 or status is NULL. */
KRVX_API int KRVXgetmessagestatus(KRVXprob prob, int msgcode, int *status);
/* Appends prob's message lines to the file filename as well (opened for appending); NULL or ""
 * closes the log file. Fails when the file cannot be opened; the old log stays then. */
KRVX_API int KRVXsetlogfile(KRVXprob prob, const char *filename);

/* ---- controls and attributes ---- */
/* tables: i = 0, 1, ... until the call returns non-zero; name buffer at least 64 bytes */
/* Entry i of the control table: name, id and type (KRVX_TYPE_*). Fails when i is past the end. */
KRVX_API int KRVXgetcontrolbyindex(int i, char *name, int *id, int *type);
/* Entry i of the attribute table, as KRVXgetcontrolbyindex. */
KRVX_API int KRVXgetattribbyindex(int i, char *name, int *id, int *type);
/* Looks a control up by name (case-insensitive): *id and *type (type may be NULL); an unknown
 * name gives id -1 and KRVX_TYPE_NOTDEFINED without failing. prob may be NULL. Fails when name or
 * id is NULL. */
KRVX_API int KRVXgetcontrolinfo(KRVXprob prob, const char *name, int *id, int *type);
/* Looks an attribute up by name, as KRVXgetcontrolinfo. */
KRVX_API int KRVXgetattribinfo(KRVXprob prob, const char *name, int *id, int *type);
/* Sets integer control id on prob. Fails for an unknown id, a control of another type or a value
 * outside the control's range; the control keeps its value then. */
KRVX_API int KRVXsetintcontrol(KRVXprob prob, int id, int value);
/* KRVXsetintcontrol with a 64-bit value. */
KRVX_API int KRVXsetintcontrol64(KRVXprob prob, int id, int64_t value);
/* Sets double control id. Fails for an unknown id, another type, NaN or a value out of range. */
KRVX_API int KRVXsetdblcontrol(KRVXprob prob, int id, double value);
/* Sets string control id (at most KRVX_MAXPROBNAMELENGTH bytes). Fails for an unknown id,
 * another type or a NULL value. */
KRVX_API int KRVXsetstrcontrol(KRVXprob prob, int id, const char *value);
/* Writes integer control id's value. Fails for an unknown id, another type, a NULL value, or a
 * value beyond 32 bits (use KRVXgetintcontrol64). */
KRVX_API int KRVXgetintcontrol(KRVXprob prob, int id, int *value);
/* KRVXgetintcontrol with a 64-bit value. */
KRVX_API int KRVXgetintcontrol64(KRVXprob prob, int id, int64_t *value);
/* Writes double control id's value. Fails for an unknown id, another type or a NULL value. */
KRVX_API int KRVXgetdblcontrol(KRVXprob prob, int id, double *value);
/* String control id: *nbytes (may be NULL) gets the size needed with the terminator; value (may
 * be NULL) gets at most maxbytes - 1 bytes and a terminator. Fails when both are NULL or maxbytes <= 0
 * with value given. */
KRVX_API int KRVXgetstrcontrol(KRVXprob prob, int id, char *value, int maxbytes, int *nbytes);
/* Resets control id to its default. Fails for an unknown id. */
KRVX_API int KRVXsetdefaultcontrol(KRVXprob prob, int id);
/* Resets every control of prob to its default. */
KRVX_API int KRVXsetdefaults(KRVXprob prob);
/* Prints each control whose value differs from its default ("name = value") through prob's
 * message output. */
KRVX_API int KRVXdumpcontrols(KRVXprob prob);
/* Writes integer attribute id of prob. Fails for an unknown id, a double attribute, a NULL value
 * or a value beyond 32 bits (use KRVXgetintattrib64). */
KRVX_API int KRVXgetintattrib(KRVXprob prob, int id, int *value);
/* KRVXgetintattrib with a 64-bit value. */
KRVX_API int KRVXgetintattrib64(KRVXprob prob, int id, int64_t *value);
/* Writes double attribute id of prob. Fails for an unknown id, an integer attribute or a NULL value. */
KRVX_API int KRVXgetdblattrib(KRVXprob prob, int id, double *value);
/* There are no string attributes: fails, naming the attribute's type (or the id as unknown). */
KRVX_API int KRVXgetstrattrib(KRVXprob prob, int id, char *value, int maxbytes, int *nbytes);
/* Integer attribute id of the nonlinear layer (the ids below, under "nonlinear layer"). Fails
 * for another id or a NULL value. */
KRVX_API int KRVNgetintattrib(tagKRVNproblem *nlprob, int id, int *value);

/* ---- names ---- */
/* Sets the problem's name (at most KRVX_MAXPROBNAMELENGTH bytes). Fails when name is NULL or longer. */
KRVX_API int KRVXsetprobname(KRVXprob prob, const char *name);
/* Writes the problem's name ("" when unnamed) and a terminator to buf. Fails when buf is NULL. */
KRVX_API int KRVXgetprobname(KRVXprob prob, char *buf);       /* buffer of 1026 bytes */
/* Names objects first..last of namespace kind (1 rows, 2 columns, 3 sets, 4 piecewise-linear,
 * 5 general constraints, 6 objectives) from nnames packed names in nbytes bytes; an empty name
 * unnames its object. Fails for an unknown kind, a range outside the namespace, a count other than
 * last-first+1, a name not terminated within nbytes, or a name used twice within the namespace. */
KRVX_API int KRVXaddnames_witharraysizes(KRVXprob prob, int kind, const char *names, int64_t nbytes,
                                         int64_t nnames, int first, int last);
/* packed names of objects first..last of namespace kind; unnamed objects get R<i+1>, C<j+1>, S<k+1>;
 * with names NULL and maxbytes 0 only *nbytes (the size needed) is written */
KRVX_API int KRVXgetnames(KRVXprob prob, int kind, char *names, int64_t maxbytes, int64_t *nbytes,
                          int first, int last);
/* *index of the object of namespace kind named name (kinds as KRVXaddnames; a default name such as
 * C3 finds its unnamed object), -1 when none; kind 7: a user function's number, kind 8: an
 * internal function's code (KRVN_FN_*). Fails for an unknown kind or a NULL name or index. */
KRVX_API int KRVXgetindex(KRVXprob prob, int kind, const char *name, int *index);

/* ---- loading and reading ----
 * start: ncols+1 entries when collen is absent, else ncols entries. Row types L E G R N.
 * Entity types B I P S R; set types '1' '2'; setstart has nsets+1 entries. */
/* Replaces the problem with the LP: ncols columns (objcoef, lb, ub; absent lb 0, ub +inf),
 * nrows rows (rowtype, rhs, rng) and the column-wise matrix (start, collen, rowind, rowcoef);
 * probname names it. Fails on inconsistent arrays (lengths, indices, types, NaN); the problem is
 * unchanged then. */
KRVX_API int KRVXloadlp64_witharraysizes(KRVXprob prob, const char *probname, int ncols, int nrows,
    const char *rowtype, int64_t rowtype_n, const double *rhs, int64_t rhs_n, const double *rng, int64_t rng_n,
    const double *objcoef, int64_t objcoef_n, const int64_t *start, int64_t start_n, const int *collen, int64_t collen_n,
    const int *rowind, int64_t rowind_n, const double *rowcoef, int64_t rowcoef_n,
    const double *lb, int64_t lb_n, const double *ub, int64_t ub_n);
/* KRVXloadlp64 with a quadratic objective 1/2 x'Qx: nobjqcoefs triplets (objqcol1, objqcol2,
 * objqcoef), each off-diagonal pair given once. */
KRVX_API int KRVXloadqp64_witharraysizes(KRVXprob prob, const char *probname, int ncols, int nrows,
    const char *rowtype, int64_t rowtype_n, const double *rhs, int64_t rhs_n, const double *rng, int64_t rng_n,
    const double *objcoef, int64_t objcoef_n, const int64_t *start, int64_t start_n, const int *collen, int64_t collen_n,
    const int *rowind, int64_t rowind_n, const double *rowcoef, int64_t rowcoef_n,
    const double *lb, int64_t lb_n, const double *ub, int64_t ub_n,
    int64_t nobjqcoefs, const int *objqcol1, int64_t objqcol1_n, const int *objqcol2, int64_t objqcol2_n,
    const double *objqcoef, int64_t objqcoef_n);
/* KRVXloadqp64 with nentities discrete columns (coltype at entind; limit for S, R, P columns) and
 * nsets sets (settype, setstart, setind, refval). */
KRVX_API int KRVXloadmiqp64_witharraysizes(KRVXprob prob, const char *probname, int ncols, int nrows,
    const char *rowtype, int64_t rowtype_n, const double *rhs, int64_t rhs_n, const double *rng, int64_t rng_n,
    const double *objcoef, int64_t objcoef_n, const int64_t *start, int64_t start_n, const int *collen, int64_t collen_n,
    const int *rowind, int64_t rowind_n, const double *rowcoef, int64_t rowcoef_n,
    const double *lb, int64_t lb_n, const double *ub, int64_t ub_n,
    int64_t nobjqcoefs, const int *objqcol1, int64_t objqcol1_n, const int *objqcol2, int64_t objqcol2_n,
    const double *objqcoef, int64_t objqcoef_n,
    int nentities, int nsets, const char *coltype, int64_t coltype_n, const int *entind, int64_t entind_n,
    const double *limit, int64_t limit_n, const char *settype, int64_t settype_n, const int64_t *setstart,
    int64_t setstart_n, const int *setind, int64_t setind_n, const double *refval, int64_t refval_n);
/* KRVXloadlp64 with discrete columns and sets, as KRVXloadmiqp64. */
KRVX_API int KRVXloadmip64_witharraysizes(KRVXprob prob, const char *probname, int ncols, int nrows,
    const char *rowtype, int64_t rowtype_n, const double *rhs, int64_t rhs_n, const double *rng, int64_t rng_n,
    const double *objcoef, int64_t objcoef_n, const int64_t *start, int64_t start_n, const int *collen, int64_t collen_n,
    const int *rowind, int64_t rowind_n, const double *rowcoef, int64_t rowcoef_n,
    const double *lb, int64_t lb_n, const double *ub, int64_t ub_n,
    int nentities, int nsets, const char *coltype, int64_t coltype_n, const int *entind, int64_t entind_n,
    const double *limit, int64_t limit_n, const char *settype, int64_t settype_n, const int64_t *setstart,
    int64_t setstart_n, const int *setind, int64_t setind_n, const double *refval, int64_t refval_n);
/* KRVXloadqp64 with quadratic rows: nqrows rows qrowind, row k holding nrowqcoefs[k] x'Qx
 * triplets (rowqcol1, rowqcol2, rowqcoef), taken in order. */
KRVX_API int KRVXloadqcqp64_witharraysizes(KRVXprob prob, const char *probname, int ncols, int nrows,
    const char *rowtype, int64_t rowtype_n, const double *rhs, int64_t rhs_n, const double *rng, int64_t rng_n,
    const double *objcoef, int64_t objcoef_n, const int64_t *start, int64_t start_n, const int *collen, int64_t collen_n,
    const int *rowind, int64_t rowind_n, const double *rowcoef, int64_t rowcoef_n,
    const double *lb, int64_t lb_n, const double *ub, int64_t ub_n,
    int64_t nobjqcoefs, const int *objqcol1, int64_t objqcol1_n, const int *objqcol2, int64_t objqcol2_n,
    const double *objqcoef, int64_t objqcoef_n,
    int nqrows, const int *qrowind, int64_t qrowind_n, const int64_t *nrowqcoefs, int64_t nrowqcoefs_n,
    const int *rowqcol1, int64_t rowqcol1_n, const int *rowqcol2, int64_t rowqcol2_n,
    const double *rowqcoef, int64_t rowqcoef_n);
/* KRVXloadqcqp64 with discrete columns and sets, as KRVXloadmiqp64. */
KRVX_API int KRVXloadmiqcqp64_witharraysizes(KRVXprob prob, const char *probname, int ncols, int nrows,
    const char *rowtype, int64_t rowtype_n, const double *rhs, int64_t rhs_n, const double *rng, int64_t rng_n,
    const double *objcoef, int64_t objcoef_n, const int64_t *start, int64_t start_n, const int *collen, int64_t collen_n,
    const int *rowind, int64_t rowind_n, const double *rowcoef, int64_t rowcoef_n,
    const double *lb, int64_t lb_n, const double *ub, int64_t ub_n,
    int64_t nobjqcoefs, const int *objqcol1, int64_t objqcol1_n, const int *objqcol2, int64_t objqcol2_n,
    const double *objqcoef, int64_t objqcoef_n,
    int nqrows, const int *qrowind, int64_t qrowind_n, const int64_t *nrowqcoefs, int64_t nrowqcoefs_n,
    const int *rowqcol1, int64_t rowqcol1_n, const int *rowqcol2, int64_t rowqcol2_n,
    const double *rowqcoef, int64_t rowqcoef_n,
    int nentities, int nsets, const char *coltype, int64_t coltype_n, const int *entind, int64_t entind_n,
    const double *limit, int64_t limit_n, const char *settype, int64_t settype_n, const int64_t *setstart,
    int64_t setstart_n, const int *setind, int64_t setind_n, const double *refval, int64_t refval_n);
/* Error code of a read stopped by SIGINT. */
#define KRVX_ERR_INTERRUPTED 32
/* Replaces the problem with one read from a file: filename as given, else with .mps, .mps.gz,
 * .lp, .lp.gz appended (flags: l only the LP names, z only the .gz ones, v only the name as given);
 * LP format for .lp and .lp.gz names and with l, MPS otherwise. Fails when no candidate exists (the
 * names tried are listed), on a read error, or for an unknown flag; the problem is unchanged then.
 * A read that SIGINT stops fails with KRVX_ERR_INTERRUPTED, the problem unchanged. */
KRVX_API int KRVXreadprob(KRVXprob prob, const char *filename, const char *flags);
/* Writes the problem as MPS or LP: LP for ".lp" or ".lp.gz" names or flag l, otherwise MPS
 * (".gz" compressed; flag f fixed MPS). NULL or "" filename: the problem's name with .lp or .mps.
 * Fails for nonlinear formulas (files cannot hold them), f with LP, an unknown flag, or when the
 * file cannot be written. */
KRVX_API int KRVXwriteprob(KRVXprob prob, const char *filename, const char *flags);

/* ---- save and restore ---- */
/* Saves the problem (its data, controls and solution) to filename + ".svf" (NULL or "": the
 * problem's name), through a temporary file, so a failed save leaves an older file intact. Fails
 * when the file cannot be written or the formulas use user functions. */
KRVX_API int KRVXsaveas(KRVXprob prob, const char *filename);
/* Replaces the problem with one saved by KRVXsaveas from probname + ".svf" (NULL or "": the
 * problem's name). Flags: v the name verbatim (no .svf), h accepted. Fails on a missing file, a file
 * that is not a saved problem or of another format version; the problem is unchanged then. */
KRVX_API int KRVXrestore(KRVXprob prob, const char *probname, const char *flags);

/* ---- solving ----
 * The engine follows from the problem's content: HiGHS for LPs, MIPs and convex QPs; the
 * interior-point solver for continuous problems (and relaxations) with quadratic rows, formulas or
 * a quadratic objective not shown convex (a local optimum); branch-and-bound over its relaxations
 * for discrete problems with such content or a quadratic objective (proven optimal when convex).
 * KRVXlpoptimize solves the continuous relaxation of a discrete problem. */
/* Solves the problem as continuous (the relaxation of a discrete one). Flags, one algorithm at
 * most: b barrier, p primal, d dual, n network simplex. Statuses in SOLVESTATUS, SOLSTATUS and
 * LPSTATUS. Fails for an unknown flag or a solver error; an infeasible or stopped solve is not a
 * failure. */
KRVX_API int KRVXlpoptimize(KRVXprob prob, const char *flags);
/* Solves the problem with its discrete columns (continuous problems as KRVXlpoptimize). Flags as
 * KRVXlpoptimize, plus l: stop after the root relaxation, leaving the problem in presolved form. */
KRVX_API int KRVXmipoptimize(KRVXprob prob, const char *flags);
/* Solves the problem by its content (the engine choice above) and writes *solvestatus and
 * *solstatus (KRVX_SOLVESTATUS_*, KRVX_SOLSTATUS_*; either may be NULL). Flags as KRVXmipoptimize,
 * plus s (a local optimum) or x (a global one), not both. */
KRVX_API int KRVXoptimize(KRVXprob prob, const char *flags, int *solvestatus, int *solstatus);
/* Turns the current solution (a barrier or loaded one) into a basic solution of the continuous
 * problem. *status 0 done, 1 no solution to start from. Leaves the presolved form first. */
KRVX_API int KRVXcrossoverlpsol(KRVXprob prob, int *status);
/* Asks the running solve of prob to stop, with reason as its stop reason (KRVX_STOP_USER, or
 * 1000 and above for the program's own); thread-safe, callable from callbacks; without a running solve
 * it has no effect. Fails for reason <= 0 or NULL prob. */
KRVX_API int KRVXinterrupt(KRVXprob prob, int reason);
/* Benchmark only: lowers the problem into its solver instance (as a solve would) and stops, so that
 * the hand-over to the solver can be timed without a solve. Not part of the modelling interface. */
KRVX_API int KRVXlowerforbenchmark(KRVXprob prob);
/* Runs trial solves of the problem over the tuner method's control values within TIMELIMIT (60 s
 * when <= 0), reports them as messages and leaves the best values on the problem's controls; the
 * problem's solution is untouched. Flags: l tune as LP, g as MIP (not both), an algorithm letter
 * (b p d n) fixes the algorithm. Fails for problems that need the nonlinear solver. */
KRVX_API int KRVXtune(KRVXprob prob, const char *flags);
/* Tunes over the problem files listed in setfile (one a line) as KRVXtune does. ifmip -1 by each
 * problem's content, 0 LP, 1 MIP; sense 0 the files' own, 1 minimise, -1 maximise. Fails for a
 * missing or empty set file, a listed file that cannot be read, or ifmip or sense out of range. */
KRVX_API int KRVXtuneprobsetfile(KRVXprob prob, const char *setfile, int ifmip, int sense);
/* Writes the tuner method ("KRVX TUNER METHOD 1", then lines "lp|mip <control> <value>...")
 * to methodfile; "stdout" or "STDOUT" prints it as messages. Fails for NULL or "" or an unwritable file. */
KRVX_API int KRVXtunerwritemethod(KRVXprob prob, const char *methodfile);
/* Reads the tuner method from methodfile (the format of KRVXtunerwritemethod). Fails for a
 * missing file or a malformed line; the method is unchanged then. */
KRVX_API int KRVXtunerreadmethod(KRVXprob prob, const char *methodfile);

/* ---- solution ---- */
/* Writes *solstatus (may be NULL) and, when x is given, x[first..last] of the current solution
 * (auxiliary columns dropped). With x given, fails when no solution is available (SOLSTATUS other
 * than 1 or 2) or first..last is out of range. */
KRVX_API int KRVXgetsolution(KRVXprob prob, int *solstatus, double *x, int first, int last);
/* Row slacks (rhs - activity) of rows first..last, as KRVXgetsolution. */
KRVX_API int KRVXgetslacks(KRVXprob prob, int *solstatus, double *slack, int first, int last);
/* Row duals of rows first..last, as KRVXgetsolution; fails when the solution has no duals (a MIP). */
KRVX_API int KRVXgetduals(KRVXprob prob, int *solstatus, double *duals, int first, int last);
/* Reduced costs of columns first..last, as KRVXgetduals. */
KRVX_API int KRVXgetredcosts(KRVXprob prob, int *solstatus, double *djs, int first, int last);

/* ---- bases, solution input and diagnostics ----
 * Basis codes (BasisStatus): 0 non-basic at the lower bound (a column without a lower bound: at
 * zero), 1 basic, 2 non-basic at the upper bound, 3 superbasic. A row's code is that of its slack
 * (rhs - activity): an L row at its rhs has its slack at 0, its lower bound, so code 0; a G row at
 * its rhs has code 2; an R row at rhs - |range| code 2. A basis has one code per row and column and
 * exactly ROWS basic entries. Problems with nonlinear formulas, quadratic parts, sets, indicator,
 * piecewise-linear or general constraints or split partial-integer columns have no simplex basis
 * here: the basis calls refuse them. */
#define KRVX_PRESOLVED 6                 /* presolve state of a problem in presolved form */
#define KRVX_BASIS_LOWER 0
#define KRVX_BASIS_BASIC 1
#define KRVX_BASIS_UPPER 2
#define KRVX_BASIS_SUPERBASIC 3
/* Basis of the original problem (ORIGINALROWS, ORIGINALCOLS entries), used by the next LP solve,
 * or of the presolved problem (ROWS, COLS entries) while the problem is in presolved form. */
KRVX_API int KRVXloadbasis_witharraysizes(KRVXprob prob, const int *rowstat, int64_t rowstat_n, const int *colstat,
    int64_t colstat_n);
/* Loads a basis of the presolved problem (ROWS, COLS entries). Fails when the problem is not
 * in presolved form (use KRVXloadbasis). */
KRVX_API int KRVXloadpresolvebasis_witharraysizes(KRVXprob prob, const int *rowstat, int64_t rowstat_n,
    const int *colstat, int64_t colstat_n);
/* The current basis (of the presolved problem while presolved); arrays of ROWS and COLS entries
 * (either may be NULL/0). Fails when the problem holds no basis. */
KRVX_API int KRVXgetbasis_witharraysizes(KRVXprob prob, int *rowstat, int64_t rowstat_n, int *colstat,
    int64_t colstat_n);
/* Basis files: a line "NAME <problem name>", then one line per exchange with the all-slack basis:
 * " XU col row" (col basic, row non-basic with its activity at its upper bound), " XL col row"
 * (the same, activity at its lower bound), " UL col" (col at its upper bound), " LL col" (col at
 * its lower bound, the default), then "ENDATA" (a file without it is refused). Rows and columns by
 * name (default names R1, C1, ...), quoted as in the directives file; rows not listed are basic. Superbasic columns cannot be written and read back at a bound.
 * Flags: v the name verbatim (else ".bss" is appended), z gzip; readbasis also takes n and t
 * (values after the names are ignored). An empty file name is the problem name. */
KRVX_API int KRVXreadbasis(KRVXprob prob, const char *filename, const char *flags);
/* Writes the current basis in the format above. Fails without a basis or in presolved form. */
KRVX_API int KRVXwritebasis(KRVXprob prob, const char *filename, const char *flags);
/* Solution files.
 * Text (".slx"): lines "NAME <solution name>" start a solution; each following line
 * "C <column name> <value>" gives one column's value ("R <row name> <value>" lines give slack
 * values and are read but not needed); "# ..." lines are comments; columns not listed are 0.
 * A file may hold several solutions. Flags: l load the first solution as an LP solution (the
 * default for a continuous problem), m load it as the MIP solution and use it as the start of
 * the next MIP solve (the default for a MIP), a add every solution of the file as a start of the
 * next MIP solve, v verbatim name, z gzip.
 * Binary (".sol"): header "KRVXSOL\0", version (uint32, 1), column and row counts (int64), flags
 * (uint32: 1 has duals), then x[cols], slack[rows], [duals[rows], djs[cols]] as little-endian
 * doubles (finite), then an FNV-1a 64-bit checksum of everything before it. Flags: x load as an LP
 * solution (default), m load as the MIP start of the next MIP solve, v verbatim, z gzip.
 * KRVXwritebinsol writes the current solution in that format. */
/* Reads a text solution file (above). Fails on a missing file, an unknown column name, a bad line
 * or in presolved form. */
KRVX_API int KRVXreadslxsol(KRVXprob prob, const char *filename, const char *flags);
/* Reads a binary solution file (above). Fails for a file of another kind, version or problem size,
 * a checksum mismatch, an unknown flag or in presolved form. */
KRVX_API int KRVXreadbinsol(KRVXprob prob, const char *filename, const char *flags);
/* Writes the current solution as a binary solution file. Fails without a solution or in presolved form. */
KRVX_API int KRVXwritebinsol(KRVXprob prob, const char *filename, const char *flags);
/* Loads x (COLS), slack and duals (ROWS), djs (COLS) as the current solution; absent arrays: x
 * columns at their bounds (the finite one nearest 0), slack computed from x (slack without x is
 * refused), duals 0, djs c - A'duals (djs without duals refused); neither x nor duals unloads the
 * solution. *status 0 loaded, 1 not loaded because the problem is presolved. */
KRVX_API int KRVXloadlpsol_witharraysizes(KRVXprob prob, const double *x, int64_t x_n, const double *slack,
    int64_t slack_n, const double *duals, int64_t duals_n, const double *djs, int64_t djs_n, int *status);
/* Rows and columns that presolve must keep (marks added to earlier ones). */
KRVX_API int KRVXloadsecurevecs_witharraysizes(KRVXprob prob, int nrows, int ncols, const int *rowind,
    int64_t rowind_n, const int *colind, int64_t colind_n);
/* Leaves the presolved form (the solution is that of the original problem); 0 when not presolved. */
KRVX_API int KRVXpostsolve(KRVXprob prob);
/* For each row and column of the presolved problem its original index (-1 none); arrays of ROWS
 * and COLS entries. Identity when the problem is not presolved. */
KRVX_API int KRVXgetpresolvemap_witharraysizes(KRVXprob prob, int *rowmap, int64_t rowmap_n, int *colmap,
    int64_t colmap_n);
/* One simplex basis exchange in the combined index space (row i, column j as ROWS + SPAREROWS + j):
 * enter non-basic becomes basic in the basis row that leave held, leave becomes non-basic at the
 * bound its value is nearest to. The current solution becomes that of the new basis. */
KRVX_API int KRVXpivot(KRVXprob prob, int enter, int leave);
/* The basic variable of each basis row (ROWS entries, combined index). */
KRVX_API int KRVXgetpivotorder_witharraysizes(KRVXprob prob, int *order, int64_t order_n);
/* Primal infeasible columns and rows, dual infeasible rows and columns of the current solution,
 * against FEASTOL and OPTIMALITYTOL; two calls (counts with NULL/0 arrays, then arrays of exactly
 * the counts). The scaled form measures in the problem scaled by its scaling exponents. */
KRVX_API int KRVXgetinfeas_witharraysizes(KRVXprob prob, int *npcols, int *nprows, int *ndrows, int *ndcols,
    int *x, int64_t x_n, int *slack, int64_t slack_n, int *duals, int64_t duals_n, int *djs, int64_t djs_n);
/* KRVXgetinfeas measured in the scaled problem. */
KRVX_API int KRVXgetscaledinfeas_witharraysizes(KRVXprob prob, int *npcols, int *nprows, int *ndrows, int *ndcols,
    int *x, int64_t x_n, int *slack, int64_t slack_n, int *duals, int64_t duals_n, int *djs, int64_t djs_n);
/* After a primal simplex solve that found the problem unbounded: the combined index of the
 * variable whose ray is unbounded; -1 otherwise (a dual simplex or another method found it). */
KRVX_API int KRVXgetunbvec(KRVXprob prob, int *seq);
/* The last barrier solution before crossover (ORIGINALCOLS / ORIGINALROWS entries, zeros when
 * the barrier did not run) and its LP status (7, unsolved, when it did not run). */
KRVX_API int KRVXgetlastbarsol_witharraysizes(KRVXprob prob, double *x, int64_t x_n, double *slack, int64_t slack_n,
    double *duals, int64_t duals_n, double *djs, int64_t djs_n, int *status);

/* ---- changing problems ----
 * Every changing call checks all its arguments before it changes anything: a refused call leaves
 * the problem as it was. NaN is refused everywhere; |v| >= 1e20 is infinite for bounds and rhs.
 * Changing calls are refused while the problem is being solved, and drop the current solution. */

/* Rows, columns, sets. New items are appended (indices old count ... old count + n - 1).
 * start: one entry per new item (the last item runs to ncoefs) or one entry more (ending at
 * ncoefs); may be absent only when ncoefs is 0. Rows: rowtype and rhs required, rng absent = 0.
 * Columns: every array optional (cost 0, lb 0, ub +inf); new columns are continuous. */
/* Appends nrows rows with ncoefs coefficients (colind, rowcoef; start as above). */
KRVX_API int KRVXaddrows64_witharraysizes(KRVXprob prob, int nrows, int64_t ncoefs, const char *rowtype,
    int64_t rowtype_n, const double *rhs, int64_t rhs_n, const double *rng, int64_t rng_n, const int64_t *start,
    int64_t start_n, const int *colind, int64_t colind_n, const double *rowcoef, int64_t rowcoef_n);
/* Appends ncols continuous columns with ncoefs coefficients (rowind, rowcoef; start as above). */
KRVX_API int KRVXaddcols64_witharraysizes(KRVXprob prob, int ncols, int64_t ncoefs, const double *objcoef,
    int64_t objcoef_n, const int64_t *start, int64_t start_n, const int *rowind, int64_t rowind_n,
    const double *rowcoef, int64_t rowcoef_n, const double *lb, int64_t lb_n, const double *ub, int64_t ub_n);
/* sets: settype '1' or '2', start as for rows, refval = ordering weights (distinct within a set) */
KRVX_API int KRVXaddsets64_witharraysizes(KRVXprob prob, int nsets, int64_t nelems, const char *settype,
    int64_t settype_n, const int64_t *start, int64_t start_n, const int *colind, int64_t colind_n,
    const double *refval, int64_t refval_n);
/* Plain forms: arrays hold the counts the other arguments give (rowtype, rhs: nrows; start: nrows
 * entries, the last row running to ncoefs; colind, rowcoef: ncoefs). NULL = absent where the
 * _witharraysizes form allows it. */
/* Plain form of KRVXaddrows64_witharraysizes. */
KRVX_API int KRVXaddrows(KRVXprob prob, int nrows, int ncoefs, const char *rowtype, const double *rhs,
    const double *rng, const int *start, const int *colind, const double *rowcoef);
/* Plain form of KRVXaddcols64_witharraysizes. */
KRVX_API int KRVXaddcols(KRVXprob prob, int ncols, int ncoefs, const double *objcoef, const int *start,
    const int *rowind, const double *rowcoef, const double *lb, const double *ub);
/* Deleting: the remaining items are renumbered downwards keeping their order. Repeated or
 * out-of-range indices are refused. Deleting columns also deletes them from sets (sets stay,
 * possibly empty), quadratic terms and extra objectives; an indicator whose column is deleted is
 * dropped; a column used by a piecewise-linear or general constraint is refused (delete the
 * constraint first). Deleting rows drops their indicators, quadratic parts, names, marks, scales. */
/* Deletes the n rows rowind (see "Deleting" above). */
KRVX_API int KRVXdelrows_witharraysizes(KRVXprob prob, int n, const int *rowind, int64_t rowind_n);
/* Deletes the n columns colind (see "Deleting" above). */
KRVX_API int KRVXdelcols_witharraysizes(KRVXprob prob, int n, const int *colind, int64_t colind_n);
/* Deletes the n sets setind (see "Deleting" above). */
KRVX_API int KRVXdelsets_witharraysizes(KRVXprob prob, int n, const int *setind, int64_t setind_n);
/* column types C B I S R P; B clips the bounds to [0,1]; S, R, P keep their limit */
KRVX_API int KRVXchgcoltype_witharraysizes(KRVXprob prob, int n, const int *colind, int64_t colind_n,
    const char *coltype, int64_t coltype_n);
/* Plain form of KRVXchgcoltype_witharraysizes: colind and coltype hold n entries. */
KRVX_API int KRVXchgcoltype(KRVXprob prob, int n, const int *colind, const char *coltype);
/* bndtype 'U' upper, 'L' lower, 'B' both */
/* Changes n bounds: bound bndtype[k] of column colind[k] to bndval[k]. Fails for an unknown type,
 * a bad index or NaN. */
KRVX_API int KRVXchgbounds(KRVXprob prob, int n, const int *colind, const char *bndtype, const double *bndval);
/* Sets the matrix coefficient of row row and column col to coef (0 removes it). */
KRVX_API int KRVXchgcoef(KRVXprob prob, int row, int col, double coef);           /* 0 removes */
/* Sets n matrix coefficients (rowind[k], colind[k]) to coef[k], as KRVXchgcoef. */
KRVX_API int KRVXchgmcoef(KRVXprob prob, int n, const int *rowind, const int *colind, const double *coef);
/* objective coefficients of the main objective; colind -1 sets the objective's constant term */
KRVX_API int KRVXchgobj(KRVXprob prob, int n, const int *colind, const double *objcoef);
/* Sets the right-hand sides of the n rows rowind to rhs. */
KRVX_API int KRVXchgrhs(KRVXprob prob, int n, const int *rowind, const double *rhs);
/* Sets the ranges of the n rows rowind to rng. Fails for a row that is not of type R. */
KRVX_API int KRVXchgrhsrange(KRVXprob prob, int n, const int *rowind, const double *rng);
/* Sets the types of the n rows rowind to rowtype (L G E R N). */
KRVX_API int KRVXchgrowtype(KRVXprob prob, int n, const int *rowind, const char *rowtype);   /* L G E R N */
/* Getters over first..last (last = first-1: empty); arrays hold last-first+1 entries.
 * getcoltype: C B I S R P; getrowtype: L G E R N; getrhsrange: the range of R rows, 0 otherwise;
 * getobj: the main objective's coefficients. */
/* Lower bounds of columns first..last. */
KRVX_API int KRVXgetlb(KRVXprob prob, double *lb, int first, int last);
/* Upper bounds of columns first..last. */
KRVX_API int KRVXgetub(KRVXprob prob, double *ub, int first, int last);
/* Main objective coefficients of columns first..last. */
KRVX_API int KRVXgetobj(KRVXprob prob, double *objcoef, int first, int last);
/* Types of columns first..last (C B I S R P). */
KRVX_API int KRVXgetcoltype(KRVXprob prob, char *coltype, int first, int last);
/* Types of rows first..last (L G E R N). */
KRVX_API int KRVXgetrowtype(KRVXprob prob, char *rowtype, int first, int last);
/* Right-hand sides of rows first..last. */
KRVX_API int KRVXgetrhs(KRVXprob prob, double *rhs, int first, int last);
/* Ranges of rows first..last (0 for rows other than R). */
KRVX_API int KRVXgetrhsrange(KRVXprob prob, double *rng, int first, int last);

/* Objectives. sense 1 minimise, -1 maximise (every objective). Objective 0 is the main one
 * (priority 0, weight 1); addobj appends objective number (count so far). Several objectives are
 * solved lexicographically: higher priority first, objectives of equal priority blended by their
 * weights (weight multiplies the objective; a negative weight turns it around). OBJVAL is the main
 * objective's value. A quadratic objective with several objectives is refused at solve time. */
/* Sets the sense of every objective: 1 minimise, -1 maximise. Fails for other values. */
KRVX_API int KRVXchgobjsense(KRVXprob prob, int sense);
/* limits of S (and R: lower bound of the nonzero part) and P (integer limit) columns */
KRVX_API int KRVXchgglblimit_witharraysizes(KRVXprob prob, int n, const int *colind, int64_t colind_n,
    const double *limit, int64_t limit_n);
/* Appends an objective with n coefficients (colind, objcoef), priority and weight. */
KRVX_API int KRVXaddobj_witharraysizes(KRVXprob prob, int n, const int *colind, int64_t colind_n,
    const double *objcoef, int64_t objcoef_n, int priority, double weight);
/* Sets n coefficients (colind, objcoef) of objective objidx (0 the main one). Fails for an
 * objidx that does not exist or a bad column index. */
KRVX_API int KRVXchgobjn_witharraysizes(KRVXprob prob, int objidx, int n, const int *colind, int64_t colind_n,
    const double *objcoef, int64_t objcoef_n);
/* objidx >= 1: removed, later objectives (and their names) shift down; objidx 0: the main objective
 * stays but is emptied (coefficients, constant and quadratic part zero) */
KRVX_API int KRVXdelobj(KRVXprob prob, int objidx);
/* Quadratic triplets added to existing entries; row -1 is the objective (c'x + 1/2 x'Qx, each
 * off-diagonal pair given once), a row >= 0 gets x'Qx terms as the loaders store them. */
KRVX_API int KRVXaddqmatrix64_witharraysizes(KRVXprob prob, int row, int64_t n, const int *rowqcol1,
    int64_t rowqcol1_n, const int *rowqcol2, int64_t rowqcol2_n, const double *rowqcoef, int64_t rowqcoef_n);
/* Removes the quadratic part of row row (-1: the objective). */
KRVX_API int KRVXdelqmatrix(KRVXprob prob, int row);
/* *coef: the objective's Q entry of col1 and col2 (symmetric: either order). */
KRVX_API int KRVXgetqobj(KRVXprob prob, int col1, int col2, double *coef);   /* symmetric */
/* One row's coefficients in two calls: counting call with the arrays NULL and maxcoefs 0 writes
 * *ncoefs; the fill call needs room for that many. Linear: columns increasing. Quadratic: the row's
 * x'Qx triangle (col1 <= col2; an off-diagonal entry stands for both of its symmetric places). */
KRVX_API int KRVXgetrowcoefs(KRVXprob prob, int row, int64_t *ncoefs, int *colind, double *coef, int64_t maxcoefs);
/* The quadratic coefficients of row row, in two calls as KRVXgetrowcoefs. */
KRVX_API int KRVXgetqrowcoefs(KRVXprob prob, int row, int64_t *ncoefs, int *col1, int *col2, double *coef,
    int64_t maxcoefs);

/* Cuts, entity fixing, scaling.
 * fixmipentities: fixes every discrete column at its value in the current MIP solution (fails
 * without one); options 0 rounds B, I (and the integer part of R, P) to the nearest integer,
 * options 1 fixes at the values as they are. Fixed B and I columns keep their type; S, R and P
 * columns become continuous with lb = ub = the value. */
KRVX_API int KRVXfixmipentities(KRVXprob prob, int options);
/* marks only: marked rows stay rows of the problem and every solve satisfies them */
KRVX_API int KRVXloadmodelcuts_witharraysizes(KRVXprob prob, int n, const int *rowind, int64_t rowind_n);
/* Marks the n rows rowind as delayed rows (marks only, as KRVXloadmodelcuts). */
KRVX_API int KRVXloaddelayedrows_witharraysizes(KRVXprob prob, int n, const int *rowind, int64_t rowind_n);
/* power-of-two exponents, stored only; each array absent (unchanged) or ROWS / COLS entries */
KRVX_API int KRVXscale_witharraysizes(KRVXprob prob, const int *rowscale, int64_t rowscale_n, const int *colscale,
    int64_t colscale_n);
/* arrays absent or ROWS / COLS entries; 0 = unscaled */
KRVX_API int KRVXgetscale_witharraysizes(KRVXprob prob, int *rowscale, int64_t rowscale_n, int *colscale,
    int64_t colscale_n);

/* Indicator constraints: complement 0 none (colind ignored), 1 row enforced when the binary column
 * is 1, -1 when it is 0. The column must be binary, the row L, G or E. */
KRVX_API int KRVXsetindicators_witharraysizes(KRVXprob prob, int n, const int *rowind, int64_t rowind_n,
    const int *colind, int64_t colind_n, const int *complement, int64_t complement_n);
/* rows first..last; arrays absent (empty range) or last-first+1 entries; no indicator: colind -1,
 * complement 0 */
KRVX_API int KRVXgetindicators_witharraysizes(KRVXprob prob, int *colind, int64_t colind_n, int *complement,
    int64_t complement_n, int first, int last);
/* Removes the indicators of rows first..last. */
KRVX_API int KRVXdelindicators(KRVXprob prob, int first, int last);
/* Piecewise-linear constraints resultant = f(colind): start has npwl entries (the last runs to
 * npoints); each constraint has at least one point; x values non-decreasing. */
KRVX_API int KRVXaddpwlcons64_witharraysizes(KRVXprob prob, int npwl, int64_t npoints, const int *colind,
    int64_t colind_n, const int *resultant, int64_t resultant_n, const int64_t *start, int64_t start_n,
    const double *xval, int64_t xval_n, const double *yval, int64_t yval_n);
/* Two calls for first..last (d = last-first, -1 for none): counting call with every array absent and
 * maxpoints 0 writes *npoints; fill call: colind, resultant d+1 entries, start d+2 (relative offsets
 * ending at npoints), xval, yval and maxpoints exactly npoints. */
KRVX_API int KRVXgetpwlcons64_witharraysizes(KRVXprob prob, int *colind, int64_t colind_n, int *resultant,
    int64_t resultant_n, int64_t *start, int64_t start_n, double *xval, int64_t xval_n, double *yval,
    int64_t yval_n, int64_t maxpoints, int64_t *npoints, int first, int last);
/* Deletes the n piecewise-linear constraints pwlind; the others are renumbered downwards. */
KRVX_API int KRVXdelpwlcons_witharraysizes(KRVXprob prob, int n, const int *pwlind, int64_t pwlind_n);
/* General constraints resultant = f(colind..., val...): contype 0 max, 1 min, 2 and, 3 or, 4 abs;
 * colstart and valstart have ncons entries. max/min: at least one column or value; and/or: binary
 * columns, no values; abs: exactly one column, no values. */
KRVX_API int KRVXaddgencons64_witharraysizes(KRVXprob prob, int ncons, int64_t ncols, int64_t nvals,
    const int *contype, int64_t contype_n, const int *resultant, int64_t resultant_n, const int64_t *colstart,
    int64_t colstart_n, const int *colind, int64_t colind_n, const int64_t *valstart, int64_t valstart_n,
    const double *val, int64_t val_n);
/* Two calls, as getpwlcons: per-constraint arrays d+1, colstart and valstart d+2, colind and maxcols
 * exactly *ncols, val and maxvals exactly *nvals. */
KRVX_API int KRVXgetgencons64_witharraysizes(KRVXprob prob, int *contype, int64_t contype_n, int *resultant,
    int64_t resultant_n, int64_t *colstart, int64_t colstart_n, int *colind, int64_t colind_n, int64_t maxcols,
    int64_t *ncols, int64_t *valstart, int64_t valstart_n, double *val, int64_t val_n, int64_t maxvals,
    int64_t *nvals, int first, int last);
/* Deletes the n general constraints conind; the others are renumbered downwards. */
KRVX_API int KRVXdelgencons_witharraysizes(KRVXprob prob, int n, const int *conind, int64_t conind_n);


/* ---- sensitivity analysis and strong branching ----
 * These work from the optimal basis of the last solve and change nothing. They need a linear
 * problem (no discrete columns, quadratic parts, several objectives, nonlinear formulas, sets,
 * indicator, piecewise-linear or general constraints) solved to optimality, unchanged since;
 * otherwise they fail naming the reason. Limits are +-1e20 when unlimited. Index and output arrays
 * hold exactly n entries.
 *
 * objsa: limits of each column's objective coefficient within which the basis stays optimal.
 * bndsa: limits of each column's lower bound (lblower, lbupper) and upper bound (ublower, ubupper)
 * within which the basis stays optimal and feasible, each bound moved alone.
 * rhssa: limits of each row's right-hand side within which the basis stays optimal and feasible
 * (a range row keeps its width: both ends move; a free row has no limits). */
/* objsa above: the limits of the objective coefficients of the n columns colind. */
KRVX_API int KRVXobjsa_witharraysizes(KRVXprob prob, int n, const int *colind, int64_t colind_n, double *lower,
    int64_t lower_n, double *upper, int64_t upper_n);
/* bndsa above: the limits of the bounds of the n columns colind. */
KRVX_API int KRVXbndsa_witharraysizes(KRVXprob prob, int n, const int *colind, int64_t colind_n, double *lblower,
    int64_t lblower_n, double *lbupper, int64_t lbupper_n, double *ublower, int64_t ublower_n, double *ubupper,
    int64_t ubupper_n);
/* rhssa above: the limits of the right-hand sides of the n rows rowind. */
KRVX_API int KRVXrhssa_witharraysizes(KRVXprob prob, int n, const int *rowind, int64_t rowind_n, double *lower,
    int64_t lower_n, double *upper, int64_t upper_n);
/* Lower and upper bounds of each row's dual over the right-hand sides of that row (the others
 * fixed) strictly inside the interval for which the problem stays feasible: the right-hand side
 * is moved past each limit of the current basis in both directions and re-solved by the dual
 * simplex method, with at most iterlim simplex iterations per row in all; a direction not
 * finished within them gives an infinite bound on its side. iterlim >= 0. */
KRVX_API int KRVXestimaterowdualranges_witharraysizes(KRVXprob prob, int n, const int *rowind, int64_t rowind_n,
    int iterlim, double *mindual, int64_t mindual_n, double *maxdual, int64_t maxdual_n);
/* type 0: condition number of the basis matrix (its norm exact, its inverse's norm estimated);
 * 1-4: norm of the recomputed minus the held vector of 1 basic values, 2 row duals, 3 row
 * activities, 4 basic costs. norm 0 infinity, 1 one-norm, 2 Euclidean (Frobenius for matrices).
 * scaled != 0: in the problem scaled by its scaling factors (KRVXscale). */
KRVX_API int KRVXbasisstability(KRVXprob prob, int type, int norm, int scaled, double *value);
/* For each candidate: bndtype 'U' sets the upper bound, 'L' the lower bound, 'B' both (fixes the
 * column) to bndval; objval and status (KRVX_LPSTATUS values) after at most iterlim dual simplex
 * iterations from the optimal basis, on a scratch copy. Status 1 optimal, 2 infeasible (objval
 * 1e20 minimising, -1e20 maximising), 4 iteration limit reached (objval: the bound reached), 5
 * unbounded, 7 unsolved. */
KRVX_API int KRVXstrongbranch_witharraysizes(KRVXprob prob, int n, const int *colind, int64_t colind_n,
    const char *bndtype, int64_t bndtype_n, const double *bndval, int64_t bndval_n, int iterlim, double *objval,
    int64_t objval_n, int *status, int64_t status_n);

/* ---- infeasibility analysis ----
 * Members of an analysis are the constraints and bounds that restrict the problem:
 *   rows (contype L, G, E; a range row is reported L or G by the side its multiplier uses, L without
 *   one; I: a row with its indicator), sets ('1', '2'), piecewise-linear ('W') and general ('X')
 *   constraints; rowind numbers them rows 0..ROWS-1, then sets, then piecewise-linear, then general
 *   constraints, each block following the previous one;
 *   bounds (bndtype U upper, L lower, F both of a fixed column) and column types (B binary, I integer,
 *   P partial integer, S semi-continuous, R semi-continuous integer: dropping one leaves the column
 *   continuous within its bounds; S and R hold the column's whole lower side, 0 or the limit).
 * IIS 0 is the initial infeasible subproblem: the support of the multipliers of an elastic phase-1
 * solve (every member when the continuous relaxation is feasible but the problem is not). IISs 1..N
 * are irreducible: infeasible, and feasible when any one member is dropped (each checked by a solve;
 * a member whose removal leaves a problem the solver cannot take, e.g. a reformulation without a
 * finite bound, is kept). nextIIS searches systematically (every IIS found is hit by a dropped
 * member of each new search branch), so the IISs found are distinct and, when the search ends, all.
 * Multipliers form a Farkas certificate of the continuous part: sum_i duals[i]*row_i(x) + sum djs*x_j
 * is identically 0 and sum of duals[i]*side_i + djs*bound < 0 (a positive dual uses the row's upper
 * side, a negative one its lower side; a positive dj the column's upper bound, a negative one its
 * lower bound); all 0 when the continuous relaxation of the IIS is feasible (entity conflicts).
 * Searches and repairs run under the SIGINT handler, honour TIMELIMIT for the whole call, and stop on
 * KRVXinterrupt; the problem is unchanged afterwards except its solution and IIS results. Any change
 * of the problem drops the IIS results. Problems with quadratic rows or nonlinear formulas are refused.
 * status of iisfirst: 0 found, 1 feasible, 2 error (a warning message says why), 3 time limit or
 * interrupt; mode 0 stops after IIS 0, 1 looks for a small IIS, 2 for a fast one.
 * status of iisnext: 0 found, 1 no further IIS (or feasible), 2 error, 3 time limit or interrupt.
 * iisall: a new search (mode 2) run to its end, or to MAXIIS IISs (-1 no limit). */
/* Drops the IIS results. */
KRVX_API int KRVXiisclear(KRVXprob prob);
/* Starts a new search and finds the first IIS (mode and *status above). */
KRVX_API int KRVXiisfirst(KRVXprob prob, int mode, int *status);
/* Finds the next IIS of the search (*status above). */
KRVX_API int KRVXiisnext(KRVXprob prob, int *status);
/* Finds all IISs (or MAXIIS of them), as described above. */
KRVX_API int KRVXiisall(KRVXprob prob);
/* niis: IISs found (-1 before a search); arrays absent (counting call) or niis+1 entries each, by IIS
 * number: rows (rowind entries), bounds (colind entries), phase-1 sum and count of violations. */
KRVX_API int KRVXiisstatus_witharraysizes(KRVXprob prob, int *niis, int *rowsizes, int64_t rowsizes_n,
    int *colsizes, int64_t colsizes_n, double *suminfeas, int64_t suminfeas_n, int *numinfeas, int64_t numinfeas_n);
/* IIS num (0..niis): counting call with every array absent writes *nrows, *ncols; in the fill call each
 * array is absent or has exactly *nrows (row side) or *ncols (bound side) entries. isolation: -1 not
 * computed, 0 the member belongs to another IIS found, 1 it belongs to no other. */
KRVX_API int KRVXgetiisdata_witharraysizes(KRVXprob prob, int num, int *nrows, int *ncols, int *rowind,
    int64_t rowind_n, int *colind, int64_t colind_n, char *contype, int64_t contype_n, char *bndtype,
    int64_t bndtype_n, double *duals, int64_t duals_n, double *djs, int64_t djs_n, signed char *isolationrows,
    int64_t isolationrows_n, signed char *isolationcols, int64_t isolationcols_n);
/* lists IIS num through the message output */
KRVX_API int KRVXiisprint(KRVXprob prob, int num);
/* filetype 0: the IIS as a problem (its members, the columns they use, zero objective), MPS or LP as
 * KRVXwriteprob (flags l LP, f fixed MPS; p is accepted: LP and free MPS files hold values in full
 * precision, fixed MPS rounds to its fields either way); 1: CSV with one line per member: name, kind, type letter, value, multiplier, isolation.
 * NULL or "" filename: <problem name>_iis<num> with .lp, .mps or .csv. */
KRVX_API int KRVXiiswrite(KRVXprob prob, int num, const char *filename, int filetype, const char *flags);
/* marks the members of IIS num (1..niis) that belong to no other IIS found */
KRVX_API int KRVXiisisolations(KRVXprob prob, int num);

/* ---- infeasibility repair ----
 * One elastic column per relaxable row side (lepref: L rows and the upper side of E and R rows;
 * gepref: G rows and the lower side of E and R rows) and per relaxable bound (lbpref, ubpref; lower
 * bounds of C and I columns, upper bounds of all but B columns). Preference p > 0: penalty 1/p per
 * unit, p < 0: 1/|p| times the square of the violation, 0: not relaxed. Limits
 * (*relax) > 0 bound a relaxation. Phase 1 minimises the weighted violation (PENALTYVALUE); phase 2
 * optimises the original objective (o its sense, x maximise, n minimise) keeping the weighted
 * violation within (1 + delta) times the phase-1 value, or within that value plus |delta| for a
 * negative delta; f skips phase 2; i and a compute one or all IISs of an infeasible relaxation (read
 * with the IIS calls; indices of the problem's own members). The repaired solution becomes the
 * problem's solution. Arrays: absent (nothing relaxed) or ORIGINALROWS / ORIGINALCOLS entries.
 * Preferences are finite. flags: the solve's algorithm letters (b p d n), blanks ignored;
 * repairinfeas takes one letter, ' ' or 0 for none.
 * penalty: c the penalty is 1/p, s 1/p in the scaled problem (row i: 2^rowscale_i/p, bound of j:
 * 1/(p 2^colscale_j)).
 * status: 0 relaxed optimum, 1 relaxation infeasible, 2 relaxation unbounded, 3 phase 2 not optimal
 * (a stop: SOLVESTATUS stopped with its STOPSTATUS; else failed, the phase-1 point kept), 4 error (a warning message says why), 5 numerical trouble, 6 an IIS was asked
 * for but the relaxation is feasible. */
KRVX_API int KRVXrepairweightedinfeas_witharraysizes(KRVXprob prob, int *status, const double *lepref,
    int64_t lepref_n, const double *gepref, int64_t gepref_n, const double *lbpref, int64_t lbpref_n,
    const double *ubpref, int64_t ubpref_n, char phase2, double delta, const char *flags);
/* KRVXrepairweightedinfeas with limits (lerelax, gerelax, lbrelax, ubrelax) on the relaxations. */
KRVX_API int KRVXrepairweightedinfeasbounds_witharraysizes(KRVXprob prob, int *status, const double *lepref,
    int64_t lepref_n, const double *gepref, int64_t gepref_n, const double *lbpref, int64_t lbpref_n,
    const double *ubpref, int64_t ubpref_n, const double *lerelax, int64_t lerelax_n, const double *gerelax,
    int64_t gerelax_n, const double *lbrelax, int64_t lbrelax_n, const double *ubrelax, int64_t ubrelax_n,
    char phase2, double delta, const char *flags);
/* KRVXrepairweightedinfeas with one preference per kind (lepref, gepref, lbpref, ubpref for every
 * row side or bound of that kind) and the penalty letter above. */
KRVX_API int KRVXrepairinfeas(KRVXprob prob, int *status, char penalty, char phase2, char flags, double lepref,
    double gepref, double lbpref, double ubpref, double delta);
/* Branching directives: how the MIP search treats an entity, a discrete column j (index j) or set
 * k (index -1-k). priority 0..1000, smaller branched on first (default 500); dir 'U' up branch
 * first, 'D' down first, 'N' the engine's choice; uppseudo/downpseudo >= 0 the pseudo costs of
 * the two branches (0 leaves the engine's own estimate). Absent arrays give these defaults.
 * loaddirs replaces every directive with the n given (n 0 clears them); colind must name distinct
 * discrete columns or sets. A problem that is not in presolved form is its own presolved form
 * for loadpresolvedirs. Directives are kept with the problem (copy, save and restore); deleting
 * columns or sets drops their directives and renumbers the others; loading or reading a problem
 * clears them. A MIP with directives is solved by the branch-and-cut engine that takes them:
 * priorities and directions of columns go to their branching objects, a set's to the binary
 * columns that its reformulation adds; pseudo costs likewise. */
/* Replaces the directives with the n given (see above). */
KRVX_API int KRVXloaddirs_witharraysizes(KRVXprob prob, int n, const int *colind, int64_t colind_n,
    const int *priority, int64_t priority_n, const char *dir, int64_t dir_n, const double *uppseudo,
    int64_t uppseudo_n, const double *downpseudo, int64_t downpseudo_n);
/* KRVXloaddirs for the presolved problem: colind in its columns. */
KRVX_API int KRVXloadpresolvedirs_witharraysizes(KRVXprob prob, int n, const int *colind, int64_t colind_n,
    const int *priority, int64_t priority_n, const char *dir, int64_t dir_n, const double *uppseudo,
    int64_t uppseudo_n, const double *downpseudo, int64_t downpseudo_n);
/* Branch-until-fixed marks: dir[k] 1 marks entity colind[k], 0 clears its mark (dir absent: all
 * 1); marks of entities not listed stay. Kept like the directives; not returned by getdirs. */
KRVX_API int KRVXloadbranchdirs_witharraysizes(KRVXprob prob, int n, const int *colind, int64_t colind_n,
    const int *dir, int64_t dir_n);
/* The directives in load order, in two calls: counting call with every array absent writes
 * *ndirs; in the fill call each array is absent or holds exactly *ndirs entries. */
KRVX_API int KRVXgetdirs_witharraysizes(KRVXprob prob, int *ndirs, int *colind, int64_t colind_n, int *priority,
    int64_t priority_n, char *dir, int64_t dir_n, double *uppseudo, int64_t uppseudo_n, double *downpseudo,
    int64_t downpseudo_n);
/* Directives file (NULL or "" names it <probname>.dir), a text file of one record a line:
 *     DIR <kind> <entity> [<priority> [<dir> [<uppseudo> [<downpseudo>]]]]
 *     BRANCH <kind> <entity>
 * kind C (column) or S (set); entity #<index> (0-based) or the entity's name, written in double
 * quotes with \" \\ and \xHH escapes when it holds blanks, quotes, backslashes or control
 * characters or starts with '#'; omitted fields take the defaults. Blank lines and lines whose
 * first non-blank character is '*' are comments. writedirs writes a named entity by its name and
 * an unnamed one by its index, numbers so that readdirs gives back exactly what was written.
 * readdirs replaces the directives and the branch marks with the file's (all or nothing). */
/* Reads a directives file (above), replacing the directives and branch marks. */
KRVX_API int KRVXreaddirs(KRVXprob prob, const char *filename);
/* Writes the directives and branch marks to a directives file (above). */
KRVX_API int KRVXwritedirs(KRVXprob prob, const char *filename);

/* ---- nonlinear layer (KRVN) ----
 * KRVXnlpcreateprob gives the nonlinear layer of a problem (created on the first call, the same
 * handle afterwards; it lives as long as the problem). Its calls take that handle; a failure leaves
 * its text for KRVNgetlasterror (which reads the problem's last error).
 *
 * Formulas. Each row (0..ROWS-1) and the objective (row KRVN_OBJROW) holds a list of formulas
 * besides its linear and quadratic parts; a formula with column c and factor f adds
 *     f * x[c] * g(x)      (c >= 0)         or      f * g(x)      (c = KRVN_NOCOL, -1000)
 * to the row's body (the objective's value), g being the formula's token stream in postfix order:
 *   type 1  constant (value)             type 10 column (value = index)
 *   type 11 user function (value = the number KRVNadduserfunction gave)
 *   type 12 internal function (value = KRVN_FN_* code)
 *   type 22 marker: opens a function's argument list; arguments follow, then the function token
 *   type 24 ignored;  type 31 operator (KRVN_OP_*);  type 0 ends the formula (last token, only there)
 * Arguments of pwl and of user functions are written last-to-first; pwl's arguments (in their
 * own order) are the column expression, then breakpoints x1, y1, x2, y2, ... (constants, x
 * non-decreasing). Every stream is checked when added: postfix well formed, known types,
 * operators and codes, argument counts (unary functions 1, min/max/sum/prod at least 1, pwl an
 * odd count of at least 5, user functions their registered nargs), columns in range, user
 * functions registered, finite constants. A formula with a column may be empty (only the end
 * token): g = 1 then. A refused call adds nothing.
 *
 * Deleting rows drops their formulas; deleting a column that a formula uses is refused (use
 * KRVNresetcol first). Solves take abs, min, max, pwl and sign exactly (auxiliary columns with
 * binaries, which need finite bounds on their arguments); the rest goes to the nonlinear solvers.
 * Saving (KRVXsaveas) keeps formulas; a problem whose formulas use user functions cannot be saved
 * (the save fails naming the function), since functions are code of the running program.
 *
 * KRVNgetintattrib: KRVN_NLPCOLS (12000) the column count the layer sees (COLS); KRVN_DEFAULTFORMULACOL
 * (12013) always -1: there is no default formula column, column-less formulas keep KRVN_NOCOL;
 * KRVN_FORMULAS (12001) the number of formulas stored (rows and objective). */
#define KRVN_FORMULAS        12001
#define KRVN_NOCOL           (-1000)   /* formula without a column of its own (-1 is taken as the same) */
#define KRVN_OBJROW          (-1)      /* the objective, where a row is asked for */
#define KRVN_ALLROWS         (-2)      /* every row, then the objective (KRVNgetcoefs) */
/* token types */
#define KRVN_TOK_EOF   0
#define KRVN_TOK_CON   1
#define KRVN_TOK_COL   10
#define KRVN_TOK_UFUN  11
#define KRVN_TOK_IFUN  12
#define KRVN_TOK_RB    22
#define KRVN_TOK_SKIP  24
#define KRVN_TOK_OP    31
/* operators: uminus takes one operand, the others two (left below right) */
#define KRVN_OP_UMINUS   1
#define KRVN_OP_POWER    2
#define KRVN_OP_MULTIPLY 3
#define KRVN_OP_DIVIDE   4
#define KRVN_OP_PLUS     5
#define KRVN_OP_MINUS    6
/* internal function codes (KRVXgetindex kind 8 gives them by name) */
#define KRVN_FN_LOG10 14
#define KRVN_FN_LN    15
#define KRVN_FN_EXP   16
#define KRVN_FN_ABS   17
#define KRVN_FN_SQRT  18
#define KRVN_FN_SIN   27
#define KRVN_FN_COS   28
#define KRVN_FN_TAN   29
#define KRVN_FN_ASIN  30
#define KRVN_FN_ACOS  31
#define KRVN_FN_ATAN  32
#define KRVN_FN_MIN   33
#define KRVN_FN_MAX   34
#define KRVN_FN_PWL   35
#define KRVN_FN_SUM   36
#define KRVN_FN_PROD  37
#define KRVN_FN_SIGN  46
#define KRVN_FN_ERF   49
#define KRVN_FN_ERFC  50

/* Adds nformulas formulas: formula k goes to row rowind[k] (KRVN_OBJROW: the objective) with
 * column colind[k] (KRVN_NOCOL: none) and factor factor[k]; its tokens are
 * type/value[formulastart[k] .. formulastart[k+1]-1] (formulastart: nformulas+1 entries,
 * non-decreasing, inside [0, ntokens]; type and value hold ntokens entries). Formulas are appended
 * to each row's list in the order given, and set the row's nonlinear status bit. */
KRVX_API int KRVNaddcoefs(tagKRVNproblem *nlprob, int nformulas, const int *rowind, const int *colind,
    const double *factor, const int *formulastart, int64_t ntokens, const int *type, const double *value);
/* Reads the formulas of row (KRVN_OBJROW: the objective; KRVN_ALLROWS: all rows in order, then
 * the objective) in two calls. Counting call: every array NULL and maxformulas = maxtokens = 0;
 * writes *nformulas and *ntokens. Fill call: rowind, colind, factor (each NULL or maxformulas
 * entries), formulastart (NULL or maxformulas+1 entries: starts from 0, the last one = *ntokens),
 * type and value (NULL or maxtokens entries); fails when maxformulas or maxtokens is too small.
 * Tokens come back as stored (type 24 tokens are not kept), each formula ending with type 0. */
KRVX_API int KRVNgetcoefs(tagKRVNproblem *nlprob, int row, int *nformulas, int64_t *ntokens, int *rowind,
    int *colind, double *factor, int *formulastart, int maxformulas, int *type, double *value, int64_t maxtokens);
/* Deletes every formula of row (or KRVN_OBJROW) whose column is col (KRVN_NOCOL: the column-less
 * ones); fails when there is none. */
KRVX_API int KRVNdelcoef(tagKRVNproblem *nlprob, int row, int col);
/* Deletes all formulas of row (or KRVN_OBJROW); none is not an error. The status bit stays. */
KRVX_API int KRVNdelrowcoefs(tagKRVNproblem *nlprob, int row);
/* The row's nonlinear status bit: 1 once formulas were added to it. Setting 0 is refused while the
 * row still has formulas; setting 1 marks a row as nonlinear without formulas. */
KRVX_API int KRVNgetrowstatus(tagKRVNproblem *nlprob, int row, int *status);
/* Sets the status bit of row (see KRVNgetrowstatus). */
KRVX_API int KRVNsetrowstatus(tagKRVNproblem *nlprob, int row, int status);
/* Resets column col in the layer: drops every formula (of any row or the objective) that uses col
 * as its column or in its tokens, so the column can then be deleted with KRVXdelcols. */
KRVX_API int KRVNresetcol(tagKRVNproblem *nlprob, int col);

/* User functions. functype KRVN_FUNCTYPE_VALUE (2): func is KRVNuserfunc2, returning the value; a
 * failure is reported by calling KRVNsetfunctionerror during the call. Derivatives by central
 * finite differences. functype KRVN_FUNCTYPE_DERIVS (5): func is KRVNuserfunc5, returning 0 (ok)
 * or 1 (failed); it writes *result, and, when deltas and partials are not NULL, partials[i] for
 * every i with deltas[i] != 0 (deltas[i] is a suggested finite-difference step). nresults must be
 * 1 and options 0. name: at most 63 bytes, need not be unique (KRVXgetindex kind 7 gives the first
 * function of that name). Functions are numbered 1, 2, ... per problem; they stay registered until
 * the problem is replaced (load, read, restore) or destroyed. func is called on the evaluating
 * thread, without the problem's lock held. */
#define KRVN_FUNCTYPE_VALUE  2
#define KRVN_FUNCTYPE_DERIVS 5
typedef double (*KRVNuserfunc2)(const double *values, void *userdata);
typedef int (*KRVNuserfunc5)(const double *values, const double *deltas, double *result, double *partials,
                             void *userdata);
/* Registers a user function (see above) and writes its number to *funcnumber. Fails for a
 * NULL func or funcnumber, a name too long, an unknown functype, nargs < 1, nresults other than 1 or
 * options other than 0. */
KRVX_API int KRVNadduserfunction(tagKRVNproblem *nlprob, const char *name, int functype, int nargs, int nresults,
    int options, void *func, void *userdata, int *funcnumber);
/* Flags the user-function evaluation running on the calling thread as failed (called from inside
 * the function). Fails when no evaluation of this layer runs on the thread. */
KRVX_API int KRVNsetfunctionerror(tagKRVNproblem *nlprob);

/* Evaluation of the formula part of a row (or KRVN_OBJROW): F(x) = sum of its formulas' terms, at
 * x (COLS entries). Derivatives are exact (reverse-mode automatic differentiation) except through
 * user functions of type 2 (finite differences). abs, sign, min, max and pwl are differentiated
 * piecewise: at a kink the derivative of the branch taken is used (abs'(0) = 0, sign' = 0, min/max:
 * the first argument that attains the value, pwl: the segment to the right of a breakpoint, its
 * last segment at and beyond the last breakpoint, the first one before the first). Domain errors
 * (log/sqrt/asin/acos outside their domain, division by zero, a non-finite result, a failing user
 * function) fail the call with a text naming the row and the cause.
 * KRVNevalrow: *value, and grad (NULL or COLS entries) = dF/dx. */
KRVX_API int KRVNevalrow(tagKRVNproblem *nlprob, int row, const double *x, int64_t x_n, double *value,
    double *grad, int64_t grad_n);
/* hv (COLS entries) = Hessian of F at x times v (COLS entries). */
KRVX_API int KRVNevalhessvec(tagKRVNproblem *nlprob, int row, const double *x, int64_t x_n, const double *v,
    int64_t v_n, double *hv, int64_t hv_n);
/* Lower triangle (hrow >= hcol) of the Hessian of objfactor * F_obj + sum_i lambda[i] * F_i
 * (lambda: NULL/0 = all zero, else ROWS entries) at x, as triplets in two calls: counting call with
 * hrow, hcol, hval NULL and maxnnz 0 writes *nnz (the structure, the same for every x); the fill
 * call writes at most maxnnz entries, sorted by (hcol, hrow). */
KRVX_API int KRVNevalhessian(tagKRVNproblem *nlprob, const double *x, int64_t x_n, double objfactor,
    const double *lambda, int64_t lambda_n, int64_t *nnz, int *hrow, int *hcol, double *hval, int64_t maxnnz);

#ifdef __cplusplus
}
#endif
#endif
