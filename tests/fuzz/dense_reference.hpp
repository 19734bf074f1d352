// Naive distances between two columns, computed from their dense form: a row
// counts when either column stores it (an explicit zero is stored), and terms
// are added in ascending row order, the order that fixes the rounding.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace fuzz {

// One column spread over all rows, with a flag for the rows it stores.
struct DenseColumn {
    std::vector<double> value;
    std::vector<bool> stored;
};

// Column `col` of any compressed-column matrix with rows, colStart, rowIndex
// and values.
template <class Matrix>
DenseColumn densify(const Matrix& x, std::uint64_t col) {
    DenseColumn d{std::vector<double>(x.rows, 0.0), std::vector<bool>(x.rows, false)};
    for (std::uint64_t p = x.colStart[col]; p < x.colStart[col + 1]; ++p) {
        d.value[x.rowIndex[p]] = x.values[p];
        d.stored[x.rowIndex[p]] = true;
    }
    return d;
}

// The coordinate difference of a union row. A row held by one column only
// contributes that column's value as it is (its sign is irrelevant to every
// metric but the Mahalanobis form, which negates the second column's).
struct UnionRow {
    std::uint64_t row;
    bool inA;
    bool inB;
    double a;
    double b;
};

inline std::vector<UnionRow> unionRows(const DenseColumn& a, const DenseColumn& b) {
    std::vector<UnionRow> rows;
    for (std::uint64_t r = 0; r < a.value.size(); ++r) {
        if (a.stored[r] || b.stored[r]) {
            rows.push_back({r, a.stored[r], b.stored[r], a.value[r], b.value[r]});
        }
    }
    return rows;
}

// The term of a row: the stored value alone when only one column has the row,
// else the difference (a lone value is not "value minus zero": -0.0 and NaN
// keep their own bits that way, as the kernels keep them).
inline double term(const UnionRow& u) {
    if (u.inA && u.inB) {
        return u.a - u.b;
    }
    return u.inA ? u.a : u.b;
}

inline double refSquaredSum(const DenseColumn& a, const DenseColumn& b) {
    double acc = 0.0;
    for (const UnionRow& u : unionRows(a, b)) {
        const double t = term(u);
        acc += t * t;
    }
    return acc;
}

inline double refWeighted(const DenseColumn& a, const DenseColumn& b, const double* w) {
    double acc = 0.0;
    for (const UnionRow& u : unionRows(a, b)) {
        const double t = term(u);
        // One column only: (w*x)*x; both: d*(w*d), the kernels' operand order.
        acc += (u.inA && u.inB) ? t * (w[u.row] * t) : (w[u.row] * t) * t;
    }
    return std::sqrt(acc);
}

inline double refCityBlock(const DenseColumn& a, const DenseColumn& b) {
    double acc = 0.0;
    for (const UnionRow& u : unionRows(a, b)) {
        acc += std::fabs(term(u));
    }
    return acc;
}

inline double refMinkowski(const DenseColumn& a, const DenseColumn& b, double p) {
    double acc = 0.0;
    for (const UnionRow& u : unionRows(a, b)) {
        acc += std::pow(std::fabs(term(u)), p);
    }
    return std::pow(acc, 1.0 / p);
}

inline double refChebychev(const DenseColumn& a, const DenseColumn& b) {
    double best = 0.0;
    for (const UnionRow& u : unionRows(a, b)) {
        const double x = std::fabs(term(u));
        if (x > best) {
            best = x;
        }
    }
    return best;
}

inline double refInnerProduct(const DenseColumn& a, const DenseColumn& b) {
    double acc = 0.0;
    for (const UnionRow& u : unionRows(a, b)) {
        if (u.inA && u.inB) {
            acc += u.a * u.b;
        }
    }
    return acc > 1.0 ? 0.0 : 1.0 - acc;
}

// Rows whose values differ: a row of one column only always differs; in both
// columns the difference decides (NaN and inf - inf differ).
inline std::uint64_t refDiffering(const std::vector<UnionRow>& rows) {
    std::uint64_t differ = 0;
    for (const UnionRow& u : rows) {
        if (!(u.inA && u.inB) || !(u.a - u.b == 0.0)) {
            ++differ;
        }
    }
    return differ;
}

inline double refHamming(const DenseColumn& a, const DenseColumn& b, std::uint64_t nvars) {
    return static_cast<double>(refDiffering(unionRows(a, b))) / static_cast<double>(nvars);
}

inline double refJaccard(const DenseColumn& a, const DenseColumn& b) {
    const std::vector<UnionRow> rows = unionRows(a, b);
    const double differ = static_cast<double>(refDiffering(rows));
    const double same = static_cast<double>(rows.size()) - differ;
    return differ / (same + differ);
}

// sqrt(d' U U' d) with U upper triangular (column-major, nvars x nvars) and
// d = a - b over the union rows (a row of b only contributes -b).
inline double refMahalanobis(const DenseColumn& a, const DenseColumn& b, const double* u,
                             std::uint64_t nvars) {
    const std::vector<UnionRow> rows = unionRows(a, b);
    if (rows.empty()) {
        return 0.0;
    }
    double acc = 0.0;
    for (std::uint64_t k = 0; k < nvars; ++k) {
        double t = 0.0;
        for (const UnionRow& r : rows) {
            if (r.row > k) {
                break;
            }
            const double d = r.inA ? (r.inB ? r.a - r.b : r.a) : -r.b;
            t += d * u[r.row + k * nvars];
        }
        acc += t * t;
    }
    return std::sqrt(acc);
}

}  // namespace fuzz
