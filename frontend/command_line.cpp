// Option parsing for hux-run: one pass over the arguments, each option
// checked as it comes, then the checks that involve several of them.
#include "command_line.hpp"

#include "column_prepare.hpp"
#include "rowmetric/rowmetric.h"

#include <array>
#include <charconv>
#include <cstring>
#include <utility>

namespace huxrun {
namespace {

constexpr int kMaxThreads = 4096;
constexpr int kMaxOutputs = 1024;

constexpr std::array<std::pair<std::string_view, vornClassID>, 11> kParamClasses{{
    {"single", vornClassSingle},
    {"double", vornClassDouble},
    {"int8", vornClassInt8},
    {"uint8", vornClassUint8},
    {"int16", vornClassInt16},
    {"uint16", vornClassUint16},
    {"int32", vornClassInt32},
    {"uint32", vornClassUint32},
    {"int64", vornClassInt64},
    {"uint64", vornClassUint64},
    {"logical", vornClassLogical},
}};

template <class Whole>
std::optional<Whole> parseWhole(std::string_view text) {
    Whole value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc{} || ptr != end || text.empty()) return std::nullopt;
    return value;
}

std::optional<int> parseBoundedInt(std::string_view text, int low, int high) {
    const auto value = parseWhole<int>(text);
    if (!value || *value < low || *value > high) return std::nullopt;
    return value;
}

// "A:B" with 1 <= A <= B, or "K/P" with 1 <= K <= P.
std::optional<RowSelection> parseRows(const std::string& text) {
    const std::size_t colon = text.find(':');
    const std::size_t slash = text.find('/');
    const std::size_t split = colon != std::string::npos ? colon : slash;
    if (split == std::string::npos) return std::nullopt;
    const auto low = parseCount(std::string_view(text).substr(0, split));
    const auto high = parseCount(std::string_view(text).substr(split + 1));
    if (!low || !high || *low == 0 || *low > *high) return std::nullopt;
    RowSelection rows{text};
    if (split == colon) {
        rows.first = *low;
        rows.last = *high;
    } else {
        rows.part = *low;
        rows.parts = *high;
    }
    return rows;
}

bool takesValue(std::string_view name) {
    return name == "--out" || name == "--threads" || name == "--nargout" ||
           name == "--param-class" || name == "--module" || name == "--rows" ||
           name == "--nearest" || name == "--labels";
}

bool isModuleName(std::string_view arg) {
    constexpr std::string_view kSuffix = ".so";
    return arg.size() > kSuffix.size() && arg.substr(arg.size() - kSuffix.size()) == kSuffix;
}

// Applies one option with its value (empty for flags); returns an error text.
std::optional<std::string> applyOption(RunOptions& options, std::string_view name,
                                       const std::string& value) {
    if (name == "--out") {
        if (value.empty()) return "--out needs a file name";
        options.outPath = value == "-" ? std::nullopt : std::optional<std::string>(value);
    } else if (name == "--module") {
        if (value.empty()) return "--module needs a file name";
        options.modulePath = value;
    } else if (name == "--threads") {
        options.threads = parseBoundedInt(value, 1, kMaxThreads);
        if (!options.threads)
            return "--threads needs a whole number from 1 to " + std::to_string(kMaxThreads) +
                   ", not '" + value + "'";
    } else if (name == "--nargout") {
        const auto count = parseBoundedInt(value, 0, kMaxOutputs);
        if (!count)
            return "--nargout needs a whole number from 0 to " + std::to_string(kMaxOutputs) +
                   ", not '" + value + "'";
        options.nargout = *count;
    } else if (name == "--param-class") {
        for (const auto& [className, id] : kParamClasses) {
            if (className == value) {
                options.paramClass = id;
                return std::nullopt;
            }
        }
        return "--param-class must be one of single, double, int8, uint8, int16, uint16, int32, "
               "uint32, int64, uint64, logical; not '" +
               value + "'";
    } else if (name == "--rows") {
        options.rows = parseRows(value);
        if (!options.rows)
            return "--rows needs A:B (rows A to B, counted from 1) or K/P (part K of P), not '" +
                   value + "'";
    } else if (name == "--nearest") {
        options.nearest = parseCount(value);
        if (!options.nearest || *options.nearest == 0)
            return "--nearest needs a whole number of neighbours from 1, not '" + value + "'";
    } else if (name == "--labels") {
        if (value.empty()) return "--labels needs a file name";
        options.labelsPath = value;
    } else if (name == "--stream") {
        options.stream = true;
    } else if (name == "--binary") {
        options.binary = true;
    } else if (name == "--dense") {
        options.dense = true;
    } else if (name == "--prepare") {
        options.prepare = true;
    } else if (name == "--raw") {
        options.raw = true;
    } else if (name == "--help") {
        options.help = true;
    } else {
        return "unknown option '" + std::string(name) + "'";
    }
    return std::nullopt;
}

// The runs through the pair-block entry: it takes the matrix, the code and a
// double parameter, nothing that only shapes a call of huxFunction.
std::optional<std::string> checkBlocks(const RunOptions& options) {
    if (options.labelsPath && !options.nearest) return "--labels applies only to --nearest";
    if (!options.byBlocks()) return std::nullopt;
    if (!options.matrixPath || !options.code)
        return "--stream, --rows and --nearest need MATRIX and CODE";
    if (options.dense || options.nargout != 1 || options.paramClass != vornClassDouble)
        return "--dense, --nargout and --param-class shape a call of huxFunction; --stream, "
               "--rows and --nearest do not make one";
    if (!options.nearest) return std::nullopt;
    if (options.rows) return "--nearest needs every pair of a column, so it takes no --rows";
    if (options.binary) return "--nearest writes text lines; it takes no --binary";
    if (options.labelsPath == "-" && (options.matrixPath == "-" || options.param == "-"))
        return "--labels cannot be read from standard input as well as MATRIX or PARAM";
    return std::nullopt;
}

std::optional<std::string> checkTogether(const RunOptions& options) {
    if (options.matrixPath == "-" && options.param == "-")
        return "MATRIX and PARAM cannot both be read from standard input";
    if (auto error = checkBlocks(options)) return error;
    if (!options.prepare) return std::nullopt;
    if (options.raw) return "--prepare and --raw contradict each other";
    if (!options.matrixPath || !options.code) return "--prepare needs MATRIX and CODE";
    if (!preparationForCode(*options.code)) {
        return "--prepare applies only to the codes cos, cor and spe, not '" + *options.code + "'";
    }
    return std::nullopt;
}

}  // namespace

std::variant<RunOptions, UsageError> parseCommandLine(const std::vector<std::string>& args) {
    RunOptions options;
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (std::size_t k = 0; k < args.size(); ++k) {
        const std::string& arg = args[k];
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string_view name = std::string_view(arg).substr(0, equals);
        std::string value;
        if (equals != std::string::npos) {
            if (!takesValue(name))
                return UsageError{"option '" + std::string(name) + "' takes no value"};
            value = arg.substr(equals + 1);
        } else if (takesValue(name)) {
            if (k + 1 == args.size()) return UsageError{"option '" + arg + "' needs a value"};
            value = args[++k];
        }
        if (auto error = applyOption(options, name, value)) return UsageError{*error};
    }
    if (options.help) return options;
    auto next = positional.begin();
    if (next != positional.end() && isModuleName(*next)) {
        if (options.modulePath) return UsageError{"two modules: --module and '" + *next + "'"};
        options.modulePath = *next++;
    }
    // Without a module named, the call needs at least MATRIX: a bare
    // "hux-run" is a request for the usage, not a call with no inputs.
    if (next == positional.end() && !options.modulePath) return UsageError{"missing MATRIX"};
    for (std::optional<std::string>* slot : {&options.matrixPath, &options.code, &options.param}) {
        if (next != positional.end()) *slot = *next++;
    }
    if (next != positional.end()) return UsageError{"unexpected argument '" + *next + "'"};
    if (auto error = checkTogether(options)) return UsageError{*error};
    return options;
}

std::optional<Preparation> preparationOf(const RunOptions& options) {
    if (options.raw || !options.code) return std::nullopt;
    return preparationForCode(*options.code);
}

std::optional<std::uint64_t> parseCount(std::string_view text) {
    return parseWhole<std::uint64_t>(text);
}

std::optional<double> parseNumber(std::string_view text) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+')
        text.remove_prefix(1);
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, std::chars_format::general);
    if (ec != std::errc{} || ptr != end || text.empty()) return std::nullopt;
    return value;
}

std::string usageText() {
    return R"(Usage: hux-run [options] MATRIX CODE [PARAM]
       hux-run [options] MODULE.so [MATRIX [CODE [PARAM]]]

Loads the distance module, checks the array interface it needs, and calls
its huxFunction with the inputs given. The result (a 1 x P row vector of
distances) is written as one value per line ("%.17g"). The module is the
rowmetric.so built beside hux-run, unless --module names another or the
first argument is a file name ending in ".so"; that form also calls it with
fewer inputs (none, or MATRIX alone).

  MATRIX   Matrix Market file (coordinate real/integer/pattern or array;
           general, symmetric or skew-symmetric, the latter two expanded),
           or "-" for standard input; gzip-compressed input (.mtx.gz) is
           recognised by its first bytes. Passed as a sparse double array:
           repeated entries are summed, and entries equal to zero are
           not stored.
  CODE     metric code (see the list below), passed as text as it stands;
           the module reads its first three letters, so "cosine" is cos.
  PARAM    a number (1 x 1) or a Matrix Market file (e.g. seu's weights,
           mah's matrix) passed as a dense double array. Text that reads
           as a number is a number: write ./3 for a file named 3.

cos, cor and spe compute 1 - x.y, which is the cosine, correlation or rank
correlation distance only for prepared columns, so hux-run prepares them:
it scales each column to unit length (cos), centres then scales it (cor), or
ranks it (average ranks over all rows, implicit zeros included) then centres
and scales it (spe), at any scale of the data. A column of zero length stays
all zeros (distance 1 to everything); one holding NaN or an infinity (for
spe: NaN) becomes NaN in every row, so its distances are NaN.

Options:
  --module FILE        the module to load (default: rowmetric.so beside
                       hux-run, in ../lib from its own directory)
  --out FILE           write the result to FILE ("-": standard output): one
                       of hux-run's descriptors (/dev/stdout, /dev/fd/N) is
                       written through, never replaced; a file, or the file a
                       symlink names, is replaced only once the result is
                       complete and keeps its mode; a device, FIFO or socket
                       is written directly
  --binary             write raw little-endian doubles instead of text
  --threads N          allow at most N threads (default: TBB's default)
  --nargout K          number of outputs requested (default 1)
  --dense              pass MATRIX as a dense double array
  --param-class CLASS  pass PARAM as single, double, int8, uint8, int16,
                       uint16, int32, uint32, int64, uint64 or logical
  --raw                for cos, cor and spe: pass the columns as they are, for
                       data prepared beforehand
  --prepare            for cos, cor and spe: prepare the columns (the default)
  --help               show this text

Block by block, through the module's pair-block entry (rowmetric_pairs_v1),
whose distances are those of the full result bit for bit:
  --stream             compute and write the result in blocks of about 64 MB,
                       each block written while the next is computed, so
                       memory stays at the input, the module's prepared
                       columns and two blocks, whatever N; same bytes as
                       without --stream
  --rows A:B           only rows A to B of the condensed result (row i holds
                       the pairs (i, j), j > i), counted from 1 as --nearest
                       counts columns, both included; --rows K/P: part K of P
                       parts of nearly equal pair counts, for job arrays.
                       Their concatenation in row order is the whole result.
                       Held in memory unless --stream is given too
  --nearest K          for each column, its K nearest other columns: lines
                       "column<TAB>neighbour<TAB>distance", columns counted
                       from 1, distances as "%.17g", ascending by distance,
                       ties by the smaller column, NaN after all numbers.
                       Exact, not approximate: every pair is computed, and
                       the distances are the full result's. Memory: N x K
                       entries and two blocks (always block by block, so
                       --stream changes nothing here)
  --labels FILE        with --nearest: one label per line, a line per column,
                       printed instead of the column numbers

Exit status: 0 success; 1 the module reported an error, the result cannot
be held in memory or could not be written; 2 bad command line, unreadable or
malformed input file, a row range or neighbour count the matrix does not
allow, or a module that cannot be loaded, needs another array interface or
lacks the pair-block entry.
)";
}

std::string metricCodesText() {
    std::string text = "\nMetric codes (x, y: the two columns; M: the number of rows):\n";
    for (const rowmetric_code& entry : rowmetric_codes) {
        text += "  " + std::string(entry.code) + "  " + entry.summary + "\n";
    }
    return text;
}

bool selectsMetric(std::string_view text) {
    char buffer[sizeof rowmetric_code::code] = {};
    text.copy(buffer, sizeof buffer - 1);
    for (const rowmetric_code& entry : rowmetric_codes) {
        if (std::memcmp(buffer, entry.code, sizeof buffer) == 0) return true;
    }
    return false;
}

}  // namespace huxrun
