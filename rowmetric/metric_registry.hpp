// The metric codes the module answers to and the ten bodies they select: the
// one table of codes, parameter rules, fast paths and one-line descriptions.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>
#include <string_view>

namespace rowmetric {

// The ten metric bodies, one per kernel binding; three codes share `dot`.
enum class BodyKind { euc, sqe, seu, cit, min, dot, ham, jac, che, mah };

// What a body reads from the optional third argument.
enum class ParameterRule {
    none,      // nothing (its class is still checked)
    exponent,  // a scalar of any class, read as a double; exactly one element
    weights,   // one double per variable: exactly M elements
    factor,    // the M x M inverse factor U: exactly M·M elements
};

// The ways to compute all pairs. Every fast path gives the plain pair loop's
// bits; choosePath picks the one that runs.
enum class Path {
    pairLoop,
    tileSweep,
    sharedRowSweep,
    denseInnerProducts,
    mahalanobisSweep,
    laneSweep,
};
inline constexpr std::size_t kPathCount = static_cast<std::size_t>(Path::laneSweep) + 1;

constexpr const char* pathName(Path path) {
    switch (path) {
        case Path::pairLoop:
            return "pairLoop";
        case Path::tileSweep:
            return "tileSweep";
        case Path::sharedRowSweep:
            return "sharedRowSweep";
        case Path::denseInnerProducts:
            return "denseInnerProducts";
        case Path::mahalanobisSweep:
            return "mahalanobisSweep";
        case Path::laneSweep:
            return "laneSweep";
    }
    return "?";
}

struct BodyEntry {
    BodyKind kind;
    ParameterRule parameter;
    std::array<Path, 2> fastPaths;  // tried in this order; pairLoop fills an unused slot
};

struct CodeEntry {
    char code[4];  // three letters and the NUL, compared as one four-byte block
    BodyKind body;
    const char* summary;  // what the code computes, one line
};

namespace detail {
// The folds over the union of two columns' rows: the lane sweep where it
// pays, else the tile sweep.
constexpr std::array<Path, 2> kUnionFolds{Path::laneSweep, Path::tileSweep};
constexpr std::array<Path, 2> kSharedRows{Path::sharedRowSweep, Path::pairLoop};
}  // namespace detail

// In BodyKind order.
inline constexpr BodyEntry kBodies[] = {
    {BodyKind::euc, ParameterRule::none, detail::kUnionFolds},
    {BodyKind::sqe, ParameterRule::none, detail::kUnionFolds},
    {BodyKind::seu, ParameterRule::weights, detail::kUnionFolds},
    {BodyKind::cit, ParameterRule::none, detail::kUnionFolds},
    {BodyKind::min, ParameterRule::exponent, detail::kUnionFolds},
    {BodyKind::dot, ParameterRule::none, {Path::denseInnerProducts, Path::sharedRowSweep}},
    {BodyKind::ham, ParameterRule::none, detail::kSharedRows},
    {BodyKind::jac, ParameterRule::none, detail::kSharedRows},
    {BodyKind::che, ParameterRule::none, detail::kUnionFolds},
    {BodyKind::mah, ParameterRule::factor, {Path::mahalanobisSweep, Path::pairLoop}},
};

// In the order the code buffer is compared with them.
inline constexpr CodeEntry kCodes[] = {
    {"euc", BodyKind::euc, "Euclidean: sqrt(sum (x-y)^2)"},
    {"sqe", BodyKind::sqe, "squared Euclidean: sum (x-y)^2"},
    {"seu", BodyKind::seu, "standardized Euclidean: sqrt(sum w*(x-y)^2), PARAM the M weights w"},
    {"cit", BodyKind::cit, "city block: sum |x-y|"},
    {"min", BodyKind::min, "Minkowski: (sum |x-y|^p)^(1/p), PARAM the exponent p"},
    {"cos", BodyKind::dot, "cosine: 1 - x.y, for columns scaled to unit length"},
    {"cor", BodyKind::dot, "correlation: 1 - x.y, for centred unit-length columns"},
    {"spe", BodyKind::dot, "rank correlation: 1 - x.y, for ranked, centred unit-length columns"},
    {"ham", BodyKind::ham, "Hamming: (rows whose values differ) / M"},
    {"jac", BodyKind::jac, "Jaccard: (rows whose values differ) / (rows stored in x or y)"},
    {"che", BodyKind::che, "Chebychev: max |x-y|"},
    {"mah", BodyKind::mah, "Mahalanobis: sqrt(d'*U*U'*d), d = x-y, PARAM the M x M factor U"},
};

constexpr const BodyEntry& bodyEntry(BodyKind kind) {
    return kBodies[static_cast<std::size_t>(kind)];
}

constexpr bool bodiesInKindOrder() {
    for (std::size_t k = 0; k < std::size(kBodies); ++k) {
        if (static_cast<std::size_t>(kBodies[k].kind) != k) {
            return false;
        }
    }
    return true;
}
static_assert(bodiesInKindOrder(), "kBodies must list the bodies in BodyKind order");

constexpr bool mayServe(BodyKind kind, Path path) {
    for (Path p : bodyEntry(kind).fastPaths) {
        if (p == path) {
            return true;
        }
    }
    return path == Path::pairLoop;
}

// Whether the rule reads the third argument's data (weights or a matrix).
constexpr bool readsParameterData(ParameterRule rule) {
    return rule == ParameterRule::weights || rule == ParameterRule::factor;
}

// The buffer vornGetString fills: up to three characters and a NUL.
using CodeBuffer = std::array<char, 4>;

// The first code equal to all four bytes of the buffer, or null.
inline const CodeEntry* findCode(const CodeBuffer& buffer) {
    for (const CodeEntry& entry : kCodes) {
        if (std::memcmp(buffer.data(), entry.code, sizeof entry.code) == 0) {
            return &entry;
        }
    }
    return nullptr;
}

// The code a text selects, read as the module reads it: its first three
// characters and a NUL.
inline const CodeEntry* findCode(std::string_view text) {
    CodeBuffer buffer{};
    text.copy(buffer.data(), buffer.size() - 1);
    return findCode(buffer);
}

}  // namespace rowmetric
