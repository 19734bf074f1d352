// The bounds at which the module stops taking a fast path, each with the
// measurement it rests on (rowmetric_bench --path forces a path to re-measure).
#pragma once

#include <cstdint>

namespace rowmetric {

// The row index (and so every sweep but the Mahalanobis one) counts entries
// per row in arrays over the whole row range. They are built only while the
// range stays within kRowRangePerEntry rows per stored entry plus
// kRowRangeSlack rows. Measured on a 2-core AMD EPYC, euc, one thread:
// - 2000 columns of 5 entries: over 2000 rows the tile sweep takes 0.034 s
//   and the pair loop 0.13 s; at the bound (4.27 million rows) 0.21 s
//   against 0.19 s; at four times the bound 0.47 s (281 MiB) against 0.12 s.
//   With few entries the slack is the break-even point.
// - 3000 columns of 100 entries: at the bound (6.6 million rows) the tile
//   sweep still takes 1.0 s against the pair loop's 5.7 s, but 159 MiB at its
//   peak instead of 76 MiB over 20000 rows. With many entries the bound
//   caps the memory of the counting arrays, about 64 bytes per entry.
inline constexpr std::uint64_t kRowRangePerEntry = 8;
inline constexpr std::uint64_t kRowRangeSlack = std::uint64_t{1} << 22;

// The shared-row sweeps make one step per pair of entries in the same row;
// the pair loop makes up to n - 1 merge steps per stored entry. The sweeps
// run when they make at most 1/kSharedRowStepShare of the loop's steps. With
// rows filled evenly to a density d the ratio is 2/d, so 2.5 admits the
// sweeps up to d = 0.8. Measured with jac, ham and cos on 0/1 data, 400 rows
// by 1500 columns, against the pair loop:
//   d = 0.5 (ratio 4):    4.4x to 14x faster at one thread
//   d = 0.8 (ratio 2.5):  2.6x to 5.5x at one thread, 1.9x to 7.4x at two
//   d = 0.9 (ratio 2.2):  1.7x to 4.3x at one thread; 3000 rows by 800
//                         columns: 1.3x to 1.8x at one, 0.9x to 1.3x at two
//   d = 1.0 (ratio 2):    0.8x to 1.2x: there the walk's branches predict
//                         well and its steps cost what the sweep's do.
inline constexpr long double kSharedRowStepShare = 2.5;

// The Mahalanobis sweep copies U row-major (aligned, padded) up to this many
// variables, so that t[k] += d_r·U(r, k) runs over contiguous memory; above
// it U is read in place, column by column. The copy is at most 32 MiB, the
// size of U itself. Measured with 100 columns of about 20 entries, one
// thread: 2048 variables (copied) 0.094 s, 2049 (in place) 0.97 s.
inline constexpr std::uint64_t kMaxTransposedVars = 2048;

// The lane sweep folds each tile's union row with one add of eight doubles,
// which pays only where that is one register: with AVX-512F. Measured on a
// 2-core AMD EPYC of family 0x1A (Zen 5, AVX-512F/DQ/BW/VL), 2 threads, with
// the host's allocation, a 4 x 2 lane-sweep prototype against the tile sweep:
//   W1 euc (5000 columns of 100 entries, 20000 rows drawn evenly):
//     0.446 s against 0.751 s (1.68x)
//   W6 euc (6000 columns of 140 entries, 7000 rows drawn by a Zipf law):
//     0.988 s against 2.778 s (2.81x)
// On a 2-core AMD EPYC of family 0x19 (Zen 3, AVX2 only) that prototype was
// slower than the tile sweep (W1 euc 1.47 s against 0.96 s), and so is this
// lane sweep's AVX2 variant, whose 8-double vectors GCC keeps on the stack
// (2 threads, a loaded machine: W1 euc 3.84 s against 0.86 s, W6 euc 21.1 s
// against 4.4 s, W6 cit 31.7 s against 8.2 s); there the tile sweep stays. With AVX-512F the lane sweep is taken on the measured
// ground only: at least kLaneMinColumns columns of at least
// kLaneMinEntriesPerColumn entries on average. Each group of 32 columns i
// also fills a table of 8 counts per row; with at most one row per
// kLaneEntriesPerRow stored entries that table costs under a tenth of the
// group's adds, whose count grows with the columns times their entries.
inline constexpr std::uint64_t kLaneMinColumns = 2000;
inline constexpr std::uint64_t kLaneMinEntriesPerColumn = 100;
inline constexpr std::uint64_t kLaneEntriesPerRow = 8;

}  // namespace rowmetric
