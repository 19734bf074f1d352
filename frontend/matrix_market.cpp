// Matrix Market reader: a line walker, a token splitter, the banner and size
// checks, the entry loop, and the conversion of entries to compressed columns.
#include "matrix_market.hpp"

#include "input_bytes.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace huxrun {
namespace {

enum class Layout { Coordinate, Array };
enum class Field { Real, Integer, Pattern };
enum class Symmetry { General, Symmetric, Skew };

struct Header {
    Layout layout = Layout::Coordinate;
    Field field = Field::Real;
    Symmetry symmetry = Symmetry::General;
};

// Position in the text; `number` is the 1-based number of the line last taken.
struct LineCursor {
    std::string_view rest;
    std::size_t number = 0;
};

bool nextLine(LineCursor& cursor, std::string_view& line) {
    if (cursor.rest.empty()) return false;
    const std::size_t end = cursor.rest.find('\n');
    line = cursor.rest.substr(0, end);
    cursor.rest = end == std::string_view::npos ? std::string_view{} : cursor.rest.substr(end + 1);
    ++cursor.number;
    return true;
}

constexpr std::size_t kMaxTokens = 6;

// The first few blank-separated words of a line; `more` tells that the line
// had further words beyond those kept.
struct Tokens {
    std::array<std::string_view, kMaxTokens> word;
    std::size_t count = 0;
    bool more = false;
};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

Tokens splitWords(std::string_view line) {
    Tokens tokens;
    std::size_t i = 0;
    while (true) {
        while (i < line.size() && isBlank(line[i])) ++i;
        if (i == line.size()) return tokens;
        const std::size_t start = i;
        while (i < line.size() && !isBlank(line[i])) ++i;
        if (tokens.count == kMaxTokens) {
            tokens.more = true;
            return tokens;
        }
        tokens.word[tokens.count++] = line.substr(start, i - start);
    }
}

std::size_t wordCount(const Tokens& t) { return t.more ? kMaxTokens + 1 : t.count; }

bool isSkippable(const Tokens& t) { return t.count == 0 || t.word[0].front() == '%'; }

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (std::tolower(x) != std::tolower(y)) return false;
    }
    return true;
}

// A word as it may appear inside a message: cut short, unprintable bytes as '?'.
std::string quoted(std::string_view word) {
    constexpr std::size_t kShown = 32;
    std::string text = "'";
    for (std::size_t i = 0; i < word.size() && i < kShown; ++i) {
        const auto c = static_cast<unsigned char>(word[i]);
        text += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
    }
    if (word.size() > kShown) text += "...";
    return text + "'";
}

bool parseCount(std::string_view word, std::uint64_t& value) {
    const char* end = word.data() + word.size();
    const auto [ptr, ec] = std::from_chars(word.data(), end, value);
    return ec == std::errc{} && ptr == end;
}

// An optional single '+' before a number, which from_chars does not take.
std::string_view dropPlus(std::string_view word) {
    if (word.size() > 1 && word[0] == '+' && word[1] != '+' && word[1] != '-')
        return word.substr(1);
    return word;
}

enum class NumberStatus { Ok, NotANumber, OutOfRange };

NumberStatus parseReal(std::string_view word, double& value) {
    word = dropPlus(word);
    const char* end = word.data() + word.size();
    const auto [ptr, ec] = std::from_chars(word.data(), end, value, std::chars_format::general);
    if (ptr != end) return NumberStatus::NotANumber;
    if (ec == std::errc{}) return NumberStatus::Ok;
    if (ec != std::errc::result_out_of_range) return NumberStatus::NotANumber;
    // Too small values become zero or subnormal, as strtod gives them; too
    // large ones are refused rather than turned into infinities.
    const std::string copy(word);
    value = std::strtod(copy.c_str(), nullptr);
    return std::isinf(value) ? NumberStatus::OutOfRange : NumberStatus::Ok;
}

NumberStatus parseInteger(std::string_view word, double& value) {
    word = dropPlus(word);
    std::int64_t integer = 0;
    const char* end = word.data() + word.size();
    const auto [ptr, ec] = std::from_chars(word.data(), end, integer);
    if (ptr != end) return NumberStatus::NotANumber;
    if (ec == std::errc::result_out_of_range) return NumberStatus::OutOfRange;
    if (ec != std::errc{}) return NumberStatus::NotANumber;
    value = static_cast<double>(integer);
    return NumberStatus::Ok;
}

struct Entry {
    std::uint64_t col;
    std::uint64_t row;
    double value;
};

// Everything the entry loop needs to know, fixed by the banner and size line.
struct Shape {
    Header header;
    std::uint64_t rows = 0;
    std::uint64_t cols = 0;
    std::uint64_t expected = 0;  // entries (coordinate) or values (array) to read
};

// The parser's working state: the text still to read, the file name for
// messages, and the entries gathered so far.
struct Parser {
    LineCursor cursor;
    const std::string& fileName;
    MarketLimits limits;
    std::size_t totalBytes = 0;
    std::vector<Entry> entries;
    // Next array position, column-major (lower triangle for symmetric files).
    std::uint64_t arrayRow = 0;
    std::uint64_t arrayCol = 0;
};

MarketError fail(const Parser& p, std::size_t line, std::string what) {
    return MarketError{p.fileName, line, std::move(what)};
}

bool readBanner(Parser& p, Header& header, MarketError& error) {
    std::string_view line;
    if (!nextLine(p.cursor, line)) {
        error = fail(p, 1, "empty file: missing '%%MatrixMarket' banner");
        return false;
    }
    const Tokens t = splitWords(line);
    if (t.count == 0 || t.word[0] != "%%MatrixMarket") {
        error = fail(p, p.cursor.number, "missing '%%MatrixMarket' banner");
        return false;
    }
    if (t.count < 5) {
        error = fail(p, p.cursor.number,
                     "banner must be '%%MatrixMarket matrix FORMAT FIELD SYMMETRY'");
        return false;
    }
    if (wordCount(t) > 5) {
        error = fail(p, p.cursor.number, "unexpected text after the banner: " + quoted(t.word[5]));
        return false;
    }
    if (!equalsNoCase(t.word[1], "matrix")) {
        error = fail(p, p.cursor.number,
                     "unsupported object " + quoted(t.word[1]) + " (only 'matrix')");
        return false;
    }
    if (equalsNoCase(t.word[2], "coordinate")) {
        header.layout = Layout::Coordinate;
    } else if (equalsNoCase(t.word[2], "array")) {
        header.layout = Layout::Array;
    } else {
        error = fail(p, p.cursor.number,
                     "unsupported format " + quoted(t.word[2]) + " (only 'coordinate' or 'array')");
        return false;
    }
    if (equalsNoCase(t.word[3], "real") || equalsNoCase(t.word[3], "double")) {
        header.field = Field::Real;
    } else if (equalsNoCase(t.word[3], "integer")) {
        header.field = Field::Integer;
    } else if (equalsNoCase(t.word[3], "pattern") && header.layout == Layout::Coordinate) {
        header.field = Field::Pattern;
    } else {
        error = fail(p, p.cursor.number,
                     "unsupported field " + quoted(t.word[3]) +
                         " (only 'real', 'integer', or 'pattern' with 'coordinate')");
        return false;
    }
    if (equalsNoCase(t.word[4], "general")) {
        header.symmetry = Symmetry::General;
    } else if (equalsNoCase(t.word[4], "symmetric")) {
        header.symmetry = Symmetry::Symmetric;
    } else if (equalsNoCase(t.word[4], "skew-symmetric") && header.field == Field::Pattern) {
        // A pattern holds no values, so none can be negated in the mirror.
        error = fail(p, p.cursor.number,
                     "unsupported combination 'pattern' with 'skew-symmetric' (a pattern has no "
                     "values to negate)");
        return false;
    } else if (equalsNoCase(t.word[4], "skew-symmetric")) {
        header.symmetry = Symmetry::Skew;
    } else {
        error = fail(p, p.cursor.number,
                     "unsupported symmetry " + quoted(t.word[4]) +
                         " (only 'general', 'symmetric' or 'skew-symmetric')");
        return false;
    }
    return true;
}

bool readSize(Parser& p, Shape& shape, MarketError& error) {
    std::string_view line;
    Tokens t;
    do {
        if (!nextLine(p.cursor, line)) {
            error = fail(p, p.cursor.number + 1, "file ends before the size line");
            return false;
        }
        t = splitWords(line);
    } while (isSkippable(t));

    const bool coordinate = shape.header.layout == Layout::Coordinate;
    const std::size_t needed = coordinate ? 3 : 2;
    const char* form = coordinate ? "size line must be 'ROWS COLUMNS ENTRIES'"
                                  : "size line must be 'ROWS COLUMNS'";
    if (t.count < needed) {
        error = fail(p, p.cursor.number, form);
        return false;
    }
    if (wordCount(t) > needed) {
        error = fail(p, p.cursor.number,
                     "unexpected text after the size line: " + quoted(t.word[needed]));
        return false;
    }
    std::array<std::uint64_t, 3> size{};
    for (std::size_t k = 0; k < needed; ++k) {
        if (!parseCount(t.word[k], size[k])) {
            error = fail(
                p, p.cursor.number,
                std::string(form) + "; " + quoted(t.word[k]) + " is not a non-negative integer");
            return false;
        }
    }
    shape.rows = size[0];
    shape.cols = size[1];
    if (shape.cols > p.limits.maxColumns) {
        error = fail(p, p.cursor.number,
                     "too many columns: " + std::to_string(shape.cols) + " (at most " +
                         std::to_string(p.limits.maxColumns) + ")");
        return false;
    }
    const Symmetry symmetry = shape.header.symmetry;
    if (symmetry != Symmetry::General && shape.rows != shape.cols) {
        error = fail(p, p.cursor.number, "a symmetric or skew-symmetric matrix must be square");
        return false;
    }
    if (coordinate) {
        shape.expected = size[2];
        return true;
    }
    const std::uint64_t n = shape.cols;  // square when not general; n <= maxColumns
    if (symmetry == Symmetry::Symmetric) {
        shape.expected = n * (n + 1) / 2;
    } else if (symmetry == Symmetry::Skew) {
        shape.expected = n == 0 ? 0 : n * (n - 1) / 2;
    } else if (__builtin_mul_overflow(shape.rows, shape.cols, &shape.expected)) {
        error = fail(p, p.cursor.number, "ROWS x COLUMNS does not fit in 64 bits");
        return false;
    }
    if (symmetry == Symmetry::Skew) p.arrayRow = 1;
    return true;
}

bool readValue(Parser& p, std::string_view word, Field field, double& value, MarketError& error) {
    const NumberStatus status =
        field == Field::Integer ? parseInteger(word, value) : parseReal(word, value);
    if (status == NumberStatus::Ok) return true;
    const char* kind = field == Field::Integer ? "an integer" : "a number";
    error = fail(p, p.cursor.number,
                 status == NumberStatus::OutOfRange ? "value " + quoted(word) + " is out of range"
                                                    : "value " + quoted(word) + " is not " + kind);
    return false;
}

void addEntry(Parser& p, const Shape& shape, std::uint64_t row, std::uint64_t col, double value) {
    p.entries.push_back(Entry{col, row, value});
    if (shape.header.symmetry == Symmetry::General || row == col) return;
    p.entries.push_back(Entry{row, col, shape.header.symmetry == Symmetry::Skew ? -value : value});
}

bool readCoordinateEntry(Parser& p, const Tokens& t, const Shape& shape, MarketError& error) {
    const bool pattern = shape.header.field == Field::Pattern;
    const std::size_t needed = pattern ? 2 : 3;
    if (t.count < needed) {
        error = fail(p, p.cursor.number,
                     pattern ? "entry must be 'ROW COLUMN'" : "entry must be 'ROW COLUMN VALUE'");
        return false;
    }
    if (wordCount(t) > needed) {
        error =
            fail(p, p.cursor.number, "unexpected text after the entry: " + quoted(t.word[needed]));
        return false;
    }
    std::uint64_t row = 0;
    std::uint64_t col = 0;
    if (!parseCount(t.word[0], row) || row == 0 || row > shape.rows) {
        error =
            fail(p, p.cursor.number,
                 "row index " + quoted(t.word[0]) + " is not in 1.." + std::to_string(shape.rows));
        return false;
    }
    if (!parseCount(t.word[1], col) || col == 0 || col > shape.cols) {
        error = fail(
            p, p.cursor.number,
            "column index " + quoted(t.word[1]) + " is not in 1.." + std::to_string(shape.cols));
        return false;
    }
    const Symmetry symmetry = shape.header.symmetry;
    if ((symmetry == Symmetry::Symmetric && row < col) ||
        (symmetry == Symmetry::Skew && row <= col)) {
        error = fail(p, p.cursor.number,
                     symmetry == Symmetry::Skew
                         ? "a skew-symmetric file holds only entries below the diagonal"
                         : "a symmetric file holds only entries on or below the diagonal");
        return false;
    }
    double value = 1.0;
    if (!pattern && !readValue(p, t.word[2], shape.header.field, value, error)) return false;
    addEntry(p, shape, row - 1, col - 1, value);
    return true;
}

bool readArrayValue(Parser& p, const Tokens& t, const Shape& shape, MarketError& error) {
    if (wordCount(t) > 1) {
        error = fail(p, p.cursor.number,
                     "array files hold one value per line; unexpected " + quoted(t.word[1]));
        return false;
    }
    double value = 0.0;
    if (!readValue(p, t.word[0], shape.header.field, value, error)) return false;
    if (value != 0.0) addEntry(p, shape, p.arrayRow, p.arrayCol, value);
    ++p.arrayRow;
    if (p.arrayRow < shape.rows) return true;
    ++p.arrayCol;
    p.arrayRow = 0;
    if (shape.header.symmetry == Symmetry::Symmetric) p.arrayRow = p.arrayCol;
    if (shape.header.symmetry == Symmetry::Skew) p.arrayRow = p.arrayCol + 1;
    return true;
}

CscMatrix build(Parser& p, const Shape& shape) {
    std::stable_sort(p.entries.begin(), p.entries.end(), [](const Entry& a, const Entry& b) {
        return a.col != b.col ? a.col < b.col : a.row < b.row;
    });
    CscMatrix matrix;
    matrix.rows = shape.rows;
    matrix.cols = shape.cols;
    matrix.colStart.assign(shape.cols + 1, 0);
    matrix.rowIndex.reserve(p.entries.size());
    matrix.values.reserve(p.entries.size());
    const bool pattern = shape.header.field == Field::Pattern;
    for (std::size_t k = 0; k < p.entries.size(); ++k) {
        const Entry& e = p.entries[k];
        const bool repeat = k > 0 && p.entries[k - 1].col == e.col && p.entries[k - 1].row == e.row;
        if (repeat) {
            if (!pattern) matrix.values.back() += e.value;
            continue;
        }
        matrix.rowIndex.push_back(e.row);
        matrix.values.push_back(e.value);
        ++matrix.colStart[e.col + 1];
    }
    for (std::uint64_t c = 0; c < shape.cols; ++c) matrix.colStart[c + 1] += matrix.colStart[c];
    return matrix;
}

MarketResult run(Parser& p) {
    MarketError error;
    Shape shape;
    if (!readBanner(p, shape.header, error)) return error;
    if (!readSize(p, shape, error)) return error;

    // Each entry takes at least two bytes, so the text bounds what to reserve
    // whatever the size line claims.
    p.entries.reserve(
        static_cast<std::size_t>(std::min<std::uint64_t>(shape.expected, p.totalBytes / 2 + 1)));
    std::uint64_t seen = 0;
    std::string_view line;
    while (nextLine(p.cursor, line)) {
        const Tokens t = splitWords(line);
        if (isSkippable(t)) continue;
        if (seen == shape.expected) {
            return fail(
                p, p.cursor.number,
                "more entries than the " + std::to_string(shape.expected) + " the size line gives");
        }
        const bool ok = shape.header.layout == Layout::Coordinate
                            ? readCoordinateEntry(p, t, shape, error)
                            : readArrayValue(p, t, shape, error);
        if (!ok) return error;
        ++seen;
    }
    if (seen < shape.expected) {
        return fail(p, p.cursor.number + 1,
                    "file ends after " + std::to_string(seen) + " of " +
                        std::to_string(shape.expected) + " entries");
    }
    return build(p, shape);
}

}  // namespace

std::string describe(const MarketError& error) {
    if (error.line == 0) return error.file + ": " + error.what;
    return error.file + ":" + std::to_string(error.line) + ": " + error.what;
}

MarketResult parseMatrixMarket(std::string_view bytes, const std::string& fileName,
                               const MarketLimits& limits) {
    Parser parser{LineCursor{bytes, 0}, fileName, limits, bytes.size(), {}, 0, 0};
    return run(parser);
}

MarketResult readMatrixMarketFile(const std::string& path, const MarketLimits& limits) {
    std::string bytes;
    try {
        bytes = readInputBytes(path);
    } catch (const std::exception& e) {
        return MarketError{inputName(path), 0, e.what()};
    }
    return parseMatrixMarket(bytes, inputName(path), limits);
}

}  // namespace huxrun
