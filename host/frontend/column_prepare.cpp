// Column preparation: unit scaling, centring and average ranking, one column
// at a time, each into a dense scratch column of M values.
#include "column_prepare.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>

namespace huxrun {
namespace {

using Index = std::uint64_t;

void scaleToUnitLength(double* first, double* last) {
    double sum = 0.0;
    for (const double* v = first; v != last; ++v) sum += *v * *v;
    const double norm = std::sqrt(sum);
    if (norm == 0.0) return;
    for (double* v = first; v != last; ++v) *v /= norm;
}

void centre(std::vector<double>& column) {
    if (column.empty()) return;
    double sum = 0.0;
    for (const double v : column) sum += v;
    const double mean = sum / static_cast<double>(column.size());
    for (double& v : column) v -= mean;
}

// Average ranks (1-based), ties sharing the mean of their positions, as
// scipy.stats.rankdata(method="average") gives them. NaN makes all ranks NaN:
// the order of such a column is undefined.
void rankInPlace(std::vector<double>& column, std::vector<std::size_t>& order) {
    if (std::any_of(column.begin(), column.end(), [](double v) { return std::isnan(v); })) {
        std::fill(column.begin(), column.end(), std::nan(""));
        return;
    }
    order.resize(column.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return column[a] < column[b]; });
    std::vector<double> ranks(column.size());
    std::size_t first = 0;
    while (first < order.size()) {
        std::size_t last = first;
        while (last + 1 < order.size() && column[order[last + 1]] == column[order[first]]) ++last;
        const double rank = (static_cast<double>(first) + static_cast<double>(last)) / 2.0 + 1.0;
        for (std::size_t k = first; k <= last; ++k) ranks[order[k]] = rank;
        first = last + 1;
    }
    column.swap(ranks);
}

CscMatrix scaleColumns(const CscMatrix& matrix) {
    CscMatrix out = matrix;
    for (Index c = 0; c < out.cols; ++c) {
        double* base = out.values.data();
        scaleToUnitLength(base + out.colStart[c], base + out.colStart[c + 1]);
    }
    return out;
}

CscMatrix centreAndScaleColumns(const CscMatrix& matrix, bool rank) {
    Index total = 0;
    if (__builtin_mul_overflow(matrix.rows, matrix.cols, &total) ||
        total > SIZE_MAX / sizeof(double)) {
        throw std::length_error("the matrix is too large to centre (rows x columns)");
    }
    CscMatrix out;
    out.rows = matrix.rows;
    out.cols = matrix.cols;
    out.colStart.assign(matrix.cols + 1, 0);
    out.rowIndex.reserve(total);
    out.values.reserve(total);
    std::vector<double> column(matrix.rows);
    std::vector<std::size_t> order;
    for (Index c = 0; c < matrix.cols; ++c) {
        std::fill(column.begin(), column.end(), 0.0);
        for (Index k = matrix.colStart[c]; k < matrix.colStart[c + 1]; ++k)
            column[matrix.rowIndex[k]] = matrix.values[k];
        if (rank) rankInPlace(column, order);
        centre(column);
        scaleToUnitLength(column.data(), column.data() + column.size());
        const bool allZero =
            std::all_of(column.begin(), column.end(), [](double v) { return v == 0.0; });
        if (!allZero) {
            for (Index r = 0; r < matrix.rows; ++r) {
                out.rowIndex.push_back(r);
                out.values.push_back(column[r]);
            }
        }
        out.colStart[c + 1] = out.rowIndex.size();
    }
    return out;
}

}  // namespace

std::optional<Preparation> preparationForCode(std::string_view code) {
    const std::string_view head = code.substr(0, 3);
    if (head == "cos") return Preparation::Cosine;
    if (head == "cor") return Preparation::Correlation;
    if (head == "spe") return Preparation::Spearman;
    return std::nullopt;
}

CscMatrix prepareColumns(const CscMatrix& matrix, Preparation preparation) {
    switch (preparation) {
        case Preparation::Cosine:
            return scaleColumns(matrix);
        case Preparation::Correlation:
            return centreAndScaleColumns(matrix, false);
        case Preparation::Spearman:
            return centreAndScaleColumns(matrix, true);
    }
    return matrix;
}

}  // namespace huxrun
