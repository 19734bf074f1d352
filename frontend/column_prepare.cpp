// Column preparation: average ranking, centring and unit scaling, one column
// at a time in a scratch column (its stored values for cosine, all M rows
// otherwise).
#include "column_prepare.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>

namespace huxrun {
namespace {

using Index = std::uint64_t;

bool allFinite(const std::vector<double>& column) {
    return std::all_of(column.begin(), column.end(), [](double v) { return std::isfinite(v); });
}

// Divides the values by the power of two at or below their largest magnitude.
// That is exact, and leaves the largest magnitude in [1, 2), so no square or
// sum taken afterwards leaves the range of double, whatever the data's scale;
// the prepared column is the same since only its direction counts.
void scaleIntoRange(std::vector<double>& column) {
    double largest = 0.0;
    for (const double v : column) largest = std::max(largest, std::fabs(v));
    if (largest == 0.0) return;
    const int exponent = std::ilogb(largest);
    for (double& v : column) v = std::ldexp(v, -exponent);
}

void scaleToUnitLength(std::vector<double>& column) {
    double sum = 0.0;
    for (const double v : column) sum += v * v;
    const double norm = std::sqrt(sum);
    if (norm == 0.0) return;
    for (double& v : column) v /= norm;
}

void centre(std::vector<double>& column) {
    if (column.empty()) return;
    double sum = 0.0;
    for (const double v : column) sum += v;
    const double mean = sum / static_cast<double>(column.size());
    for (double& v : column) v -= mean;
}

// Average ranks (1-based), ties sharing the mean of their positions, as
// scipy.stats.rankdata(method="average") gives them; infinities rank as the
// extremes they are. The caller has made sure no value is NaN.
void rankInPlace(std::vector<double>& column, std::vector<std::size_t>& order) {
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

// Prepares one column in place; returns false when it holds NaN or an
// infinity where it is to be scaled (ranks turn infinities into numbers).
bool prepareColumn(std::vector<double>& column, Preparation preparation,
                   std::vector<std::size_t>& order) {
    if (preparation == Preparation::Spearman &&
        std::none_of(column.begin(), column.end(), [](double v) { return std::isnan(v); })) {
        rankInPlace(column, order);
    }
    if (!allFinite(column)) return false;
    scaleIntoRange(column);
    if (preparation != Preparation::Cosine) centre(column);
    scaleToUnitLength(column);
    return true;
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
    const bool keepPattern = preparation == Preparation::Cosine;
    Index stored = matrix.values.size();
    if (!keepPattern && (__builtin_mul_overflow(matrix.rows, matrix.cols, &stored) ||
                         stored > SIZE_MAX / sizeof(double))) {
        throw std::length_error("the matrix is too large to centre (rows x columns)");
    }
    CscMatrix out;
    out.rows = matrix.rows;
    out.cols = matrix.cols;
    out.colStart.assign(matrix.cols + 1, 0);
    out.rowIndex.reserve(stored);
    out.values.reserve(stored);
    std::vector<double> column;
    std::vector<std::size_t> order;
    for (Index c = 0; c < matrix.cols; ++c) {
        const Index first = matrix.colStart[c];
        const Index last = matrix.colStart[c + 1];
        if (keepPattern) {
            column.assign(matrix.values.begin() + first, matrix.values.begin() + last);
        } else {
            column.assign(matrix.rows, 0.0);
            for (Index k = first; k < last; ++k) column[matrix.rowIndex[k]] = matrix.values[k];
        }
        if (!prepareColumn(column, preparation, order)) {
            // NaN in every row, so that every distance to it is NaN.
            for (Index r = 0; r < matrix.rows; ++r) {
                out.rowIndex.push_back(r);
                out.values.push_back(std::nan(""));
            }
        } else {
            for (std::size_t k = 0; k < column.size(); ++k) {
                out.rowIndex.push_back(keepPattern ? matrix.rowIndex[first + k] : k);
                out.values.push_back(column[k]);
            }
        }
        out.colStart[c + 1] = out.rowIndex.size();
    }
    return out;
}

}  // namespace huxrun
