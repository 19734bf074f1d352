#!/usr/bin/python3
"""Writes digits.mtx and digits-binary.mtx from scikit-learn's bundled copy of
the handwritten digits data: the first 60 images as columns, their 64 pixels
(8 x 8, row by row) as rows. Run from this directory to regenerate them.

Usage: make_digits.py   (no arguments; writes both files in the current directory)
"""
import sys

if len(sys.argv) > 1:
    asked = sys.argv[1] in ("-h", "--help")
    print(__doc__.strip(), file=sys.stdout if asked else sys.stderr)
    sys.exit(0 if asked else 2)

from sklearn.datasets import load_digits  # noqa: E402

IMAGES = 60
digits = load_digits()
pixels = digits.data[:IMAGES]
labels = " ".join(str(int(v)) for v in digits.target[:IMAGES])
source = "% Source: scikit-learn load_digits() (UCI Optical Recognition of Handwritten Digits, test set)\n"
layout = f"% Rows: the 64 pixels of an 8x8 image, row by row; columns: the first {IMAGES} images\n"


def entries(keep, value):
    return [(r + 1, c + 1, value(pixels[c, r])) for c in range(IMAGES) for r in range(64) if keep(pixels[c, r])]


def write(name, field, note, rows):
    with open(name, "w") as f:
        f.write(f"%%MatrixMarket matrix coordinate {field} general\n{source}{layout}{note}")
        f.write(f"% labels: {labels}\n64 {IMAGES} {len(rows)}\n")
        for r, c, v in rows:
            f.write(f"{r} {c}\n" if v is None else f"{r} {c} {v}\n")


write("digits.mtx", "real", "% Values: ink counts 0..16; zeros are not stored\n",
      entries(lambda v: v != 0, lambda v: f"{v:g}"))
write("digits-binary.mtx", "pattern", "% Pattern: the pixels with ink count 8 or more\n",
      entries(lambda v: v >= 8, lambda v: None))
