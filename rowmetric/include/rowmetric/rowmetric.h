/* The distance module's public C interface beside huxFunction: its metric
   codes, the condensed pair order, and the pairs of a row range on demand. */
#ifndef ROWMETRIC_ROWMETRIC_H
#define ROWMETRIC_ROWMETRIC_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The metric codes, in the order the module compares a code with them, each
   with what it computes in one line. A longer text selects the code of its
   first three characters ("cosine" is "cos"); case matters. */
struct rowmetric_code {
    char code[4];
    const char* summary;
};

enum { ROWMETRIC_CODE_COUNT = 12 };

static const struct rowmetric_code rowmetric_codes[ROWMETRIC_CODE_COUNT] = {
    {"euc", "Euclidean: sqrt(sum (x-y)^2)"},
    {"sqe", "squared Euclidean: sum (x-y)^2"},
    {"seu", "standardized Euclidean: sqrt(sum w*(x-y)^2), PARAM the M weights w"},
    {"cit", "city block: sum |x-y|"},
    {"min", "Minkowski: (sum |x-y|^p)^(1/p), PARAM the exponent p > 0"},
    {"cos", "cosine: 1 - x.y, for columns scaled to unit length"},
    {"cor", "correlation: 1 - x.y, for centred unit-length columns"},
    {"spe", "rank correlation: 1 - x.y, for ranked, centred unit-length columns"},
    {"ham", "Hamming: (rows whose values differ) / M"},
    {"jac", "Jaccard: (rows whose values differ) / (rows stored in x or y)"},
    {"che", "Chebychev: max |x-y|"},
    {"mah", "Mahalanobis: sqrt(d'*U*U'*d), d = x-y, PARAM the M x M factor U"},
};

/* A result holds fewer pairs than this; more is the error OutputTooLarge. */
static const uint64_t rowmetric_pair_limit = UINT64_C(281474976710655); /* 2^48 - 1 */

/* The condensed order: pairs (i, j), i < j, row by row, (0,1), (0,2), ...,
   (0,n-1), (1,2), ... . Row i's n-1-i pairs start at rowmetric_row_offset(i, n),
   which for i = n is the total n(n-1)/2. Valid for i <= n below the limit. */
static inline uint64_t rowmetric_row_offset(uint64_t i, uint64_t n) {
    return i * n - i * (i + 1) / 2;
}

/* The first row of part `part` when rows [0, n) are split into `parts`
   contiguous parts of nearly equal pair counts: part k holds rows
   [rowmetric_split_row(n, k, parts), rowmetric_split_row(n, k + 1, parts)).
   Part 0 starts at 0 and part `parts` at n. The smallest row whose offset
   reaches k/parts of all pairs (found by bisection). */
static inline uint64_t rowmetric_split_row(uint64_t n, uint64_t part, uint64_t parts) {
    if (part >= parts) return n;
    const uint64_t total = rowmetric_row_offset(n, n);
    /* part/parts of total without overflow: total < 2^48, parts < 2^16 suffices
       for the product; above that, divide first. */
    const uint64_t target = parts < 65536 ? total * part / parts
                                          : total / parts * part + total % parts * part / parts;
    uint64_t lo = 0, hi = n;
    while (lo < hi) {
        const uint64_t mid = lo + (hi - lo) / 2;
        if (rowmetric_row_offset(mid, n) >= target) hi = mid; else lo = mid + 1;
    }
    return lo;
}

/* What rowmetric_pairs_v1 returns. Each failure but the last three is one of
   the module's error keys ("qualbox:pdisthux:<Key>"). */
enum rowmetric_status {
    ROWMETRIC_OK = 0,
    ROWMETRIC_UNKNOWN_METRIC,      /* UnknownMetric */
    ROWMETRIC_MISSING_PARAMETER,   /* MissingParameter */
    ROWMETRIC_BAD_PARAMETER_SIZE,  /* BadParameterSize */
    ROWMETRIC_BAD_EXPONENT,        /* BadExponent */
    ROWMETRIC_OUTPUT_TOO_LARGE,    /* OutputTooLarge */
    ROWMETRIC_BAD_ROW_RANGE,       /* BadRowRange: not i0 <= i1 <= n */
    ROWMETRIC_BAD_ARGUMENT,        /* a null pointer where data is needed */
    ROWMETRIC_OUT_OF_MEMORY,       /* the module's working memory */
    ROWMETRIC_FAILED               /* anything else that left the computation */
};

/* A sparse double matrix in compressed columns, as the host stores it:
   column k holds entries col_start[k] .. col_start[k+1]-1, rows strictly
   ascending within a column, no stored zeros. */
struct rowmetric_matrix {
    uint64_t m; /* rows (variables) */
    uint64_t n; /* columns (observations) */
    const double* values;
    const uint64_t* row_index;
    const uint64_t* col_start; /* n + 1 entries */
};

/* The optional parameter: min's exponent as a 1 x 1, seu's M weights, mah's
   M x M factor U (column-major). Absent when the pointer to it is null, its
   data is null or it has no elements. */
struct rowmetric_param {
    const double* data;
    uint64_t rows;
    uint64_t cols;
};

/* Computes the pairs (i, j), i0 <= i < i1, j > i, of `code` over x into
   out[0 .. rowmetric_row_offset(i1, n) - rowmetric_row_offset(i0, n)), in
   condensed order, bit for bit the same values as the same slice of
   huxFunction's result, by the same paths. threads caps the threads used
   (0: TBB's default). Checks the call as huxFunction does, with the same
   keys. Returns ROWMETRIC_OK, or a failure and, when message is not null,
   its one line in message: "<sentence> (<identifier>)" for a key, the same
   text huxFunction's error carries. A refused call writes nothing to out;
   after ROWMETRIC_OUT_OF_MEMORY or ROWMETRIC_FAILED, out's contents are
   undefined. The message is cut to message_size - 1 bytes and NUL-terminated
   (empty on success). No exception leaves it. */
int rowmetric_pairs_v1(const struct rowmetric_matrix* x, const char* code,
                       const struct rowmetric_param* param, uint64_t i0, uint64_t i1,
                       unsigned threads, double* out, char* message, size_t message_size);

typedef int (*rowmetric_pairs_v1_fn)(const struct rowmetric_matrix*, const char*,
                                     const struct rowmetric_param*, uint64_t, uint64_t,
                                     unsigned, double*, char*, size_t);

#ifdef __cplusplus
}
#endif

#endif
