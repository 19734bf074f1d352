// The ten bodies the metric codes select: each code's body, and each body's
// parameter rule and fast paths. The codes themselves are in rowmetric.h.
#pragma once

#include "rowmetric/rowmetric.h"

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

// One metric code of rowmetric_codes with the body it selects.
struct CodeEntry {
    const char* code;     // three letters and the NUL, compared as one four-byte block
    const char* summary;  // what the code computes, one line
    BodyKind body;
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

// The body of each code of rowmetric_codes, in the same order: the codes and
// their summaries live in the public header alone.
inline constexpr BodyKind kCodeBodies[] = {
    BodyKind::euc, BodyKind::sqe, BodyKind::seu, BodyKind::cit, BodyKind::min, BodyKind::dot,
    BodyKind::dot, BodyKind::dot, BodyKind::ham, BodyKind::jac, BodyKind::che, BodyKind::mah,
};
static_assert(std::size(kCodeBodies) == ROWMETRIC_CODE_COUNT,
              "every code of rowmetric_codes needs its body, and no more");

namespace detail {
inline std::array<CodeEntry, ROWMETRIC_CODE_COUNT> joinCodeBodies() {
    std::array<CodeEntry, ROWMETRIC_CODE_COUNT> codes{};
    for (std::size_t k = 0; k < codes.size(); ++k) {
        codes[k] = {rowmetric_codes[k].code, rowmetric_codes[k].summary, kCodeBodies[k]};
    }
    return codes;
}
}  // namespace detail

// In the order the code buffer is compared with them.
inline const std::array<CodeEntry, ROWMETRIC_CODE_COUNT> kCodes = detail::joinCodeBodies();

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
        if (std::memcmp(buffer.data(), entry.code, buffer.size()) == 0) {
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
