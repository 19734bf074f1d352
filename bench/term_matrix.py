"""A real term-by-document count matrix from the Python sources a Debian
machine with the benchmark's dependencies carries.

Documents are the top-level function and class blocks of the `.py` files
under SOURCE_ROOTS, walked in sorted path order (roots in the order given,
blocks in file order); the first DOCUMENTS of them are kept. A document's
words are the runs of 2 or more letters in its lower-cased text, less a
small stop list. The rows are the words found in at least MIN_DOCUMENTS of
the kept documents, in alphabetical order; a value is the word's count in
the document. The result is deterministic for a given machine's files.

Run as a script it prints the matrix's shape and skew.
"""

import ast
import os
import re
import sys
from collections import Counter

import numpy as np
import scipy.sparse as sp

SOURCE_ROOTS = ("/usr/lib/python3.11", "/usr/lib/python3/dist-packages")
DOCUMENTS = 8000
MIN_DOCUMENTS = 2
WORD = re.compile(r"[a-z]{2,}")
STOP_WORDS = frozenset(
    "an and are as at be by for from has have in is it its of on or that the "
    "this to was were will with".split())


def source_files(roots=SOURCE_ROOTS):
    """The `.py` files under each root, in sorted path order."""
    for root in roots:
        found = []
        for directory, _, names in os.walk(root):
            found.extend(os.path.join(directory, n) for n in names if n.endswith(".py"))
        yield from sorted(found)


def top_level_blocks(path):
    """The source text of each top-level def/class in `path`; nothing for a
    file that cannot be read or parsed as Python."""
    try:
        with open(path, "rb") as f:
            source = f.read().decode("utf-8", errors="replace")
        tree = ast.parse(source)
    except (OSError, SyntaxError, ValueError):
        return []
    lines = source.splitlines()
    kinds = (ast.FunctionDef, ast.AsyncFunctionDef, ast.ClassDef)
    return ["\n".join(lines[node.lineno - 1:node.end_lineno])
            for node in tree.body if isinstance(node, kinds)]


def words(text):
    return [w for w in WORD.findall(text.lower()) if w not in STOP_WORDS]


def documents(limit=DOCUMENTS, roots=SOURCE_ROOTS):
    """The first `limit` blocks' word counts."""
    docs = []
    for path in source_files(roots):
        for block in top_level_blocks(path):
            docs.append(Counter(words(block)))
            if len(docs) == limit:
                return docs
    return docs


def count_matrix(docs, min_documents=MIN_DOCUMENTS):
    """(CSR with documents as rows and kept terms as columns, the terms)."""
    document_frequency = Counter()
    for counts in docs:
        document_frequency.update(counts.keys())
    terms = sorted(t for t, df in document_frequency.items() if df >= min_documents)
    column = {t: k for k, t in enumerate(terms)}
    indptr, indices, data = [0], [], []
    for counts in docs:
        kept = sorted((column[t], c) for t, c in counts.items() if t in column)
        indices.extend(k for k, _ in kept)
        data.extend(c for _, c in kept)
        indptr.append(len(indices))
    matrix = sp.csr_matrix((np.asarray(data, dtype=np.float64),
                            np.asarray(indices, dtype=np.int64),
                            np.asarray(indptr, dtype=np.int64)),
                           shape=(len(docs), len(terms)))
    return matrix, terms


def build():
    """The benchmark's W7 samples: documents as rows (observations)."""
    docs = documents()
    if len(docs) < DOCUMENTS:
        raise SystemExit(f"term matrix: only {len(docs)} top-level blocks found under "
                         f"{', '.join(SOURCE_ROOTS)}; {DOCUMENTS} are needed")
    return count_matrix(docs)[0]


def describe(samples):
    """Shape and skew: per-document entries, and how many documents the
    commonest terms fill."""
    per_doc = np.diff(samples.indptr)
    df = np.sort(np.bincount(samples.indices, minlength=samples.shape[1]))[::-1]
    top = max(1, len(df) // 100)
    return (f"M = {samples.shape[1]} terms, N = {samples.shape[0]} documents, "
            f"{samples.nnz} entries; entries per document: mean {per_doc.mean():.1f}, "
            f"median {np.median(per_doc):.0f}, max {per_doc.max()}; the commonest term is in "
            f"{df[0] / samples.shape[0]:.0%} of documents, the top 1 % of terms hold "
            f"{df[:top].sum() / samples.nnz:.0%} of the entries, "
            f"{(df <= 3).sum() / len(df):.0%} of the terms are in at most 3 documents")


if __name__ == "__main__":
    print(describe(build()))
    sys.exit(0)
