// Partial profiles for work spread over processes (the package's `dask` module): a piece of an
// export scanned to the profiler's serialised partial, partials merged in stream order, and a
// merged partial finished into the profile `profile_files` would give.
//
// Blobs are `PartialProfile::serialize()` bytes; a blob that does not load (corrupt, foreign,
// another version) is a ValueError, never a crash. Scanning, merging and finishing run with the
// interpreter lock released.
#pragma once

#include "native.hpp"

namespace qorv_chemical_engineering_edge_py {

// plan_file(path, options, piece_bytes, head=None, size=None, text=False) -> (pieces, need)
//   The file cut into pieces (dicts, see partials.cpp), read as far as its opening needs; with
//   `head` (the file's first bytes, for a file only the caller reads) and `size`, planned from
//   those bytes, or `need` > 0: the number of bytes the head must grow to. piece_bytes 0: by
//   the columns. text: the head is a rendered table's text, never inflated whatever its label.
PyObject* plan_file(PyObject* module, PyObject* args, PyObject* kwargs);
// plan_parts(header, [(rows_length, rows_quotes_odd), ...]) -> [piece, ...]
//   A data frame's rendered text (the header, then each partition's rows) cut into pieces:
//   dicts {"part", "start", "end", "skip", "part_inside_quotes", "heads": [(part, n), ...]}.
PyObject* plan_parts(PyObject* module, PyObject* args);
// part_heads(header_length, [(rows_length, rows_quotes_odd), ...], upto) -> [(part, n), ...]
//   The partitions' first bytes that the text's bytes [header_length, upto) are made of.
PyObject* part_heads(PyObject* module, PyObject* args);
// scan_piece(piece, options, inside_quotes=None, data=None, opening=None, before=None)
//   -> (blob, inside_quotes_used, quotes_odd)
// Scans a piece of a local file, or with `data` (a list of bytes: the piece's, a gzip piece's
// inflated text) the bytes given, `opening` the file's first header_bytes and `before` the bytes
// from guess_from. inside_quotes None guesses the parity at the start from the row before it.
PyObject* scan_piece(PyObject* module, PyObject* args, PyObject* kwargs);
// chain_parities([quotes_odd, ...]) -> the quote parity at each of one file's pieces.
PyObject* chain_parities(PyObject* module, PyObject* args);
// quotes_odd(data, end=None) -> whether data[:end] holds an odd number of quotes.
PyObject* quotes_odd(PyObject* module, PyObject* args);
// scan_text(label, offset, opening, inside_quotes, options, [bytes, ...]) -> blob
// Export text in memory scanned from `offset` of the stream (a data frame's rendered text).
PyObject* scan_text(PyObject* module, PyObject* args);
// merge_partials([blob, ...]) -> blob: the blobs merged in the order given.
PyObject* merge_partials(PyObject* module, PyObject* args);
// finalize_partial(blob, options, contexts=None) -> the profile, as profile_files returns it.
//   `contexts`: the merged partial of each of the options' context files, in their order, read
//   where the pieces ran (no file is read here); None reads the files here.
PyObject* finalize_partial(PyObject* module, PyObject* args);
// plan_context(path, kind, size, piece_bytes) -> [piece, ...]: a context file's pieces from its
//   size alone, dicts {"path", "kind", "start", "end", "gzip"}.
PyObject* plan_context(PyObject* module, PyObject* args);
// scan_context_piece(piece, options, inside_quotes=None) -> (blob, inside_quotes_used,
//   quotes_odd): one piece of a context file read into its partial.
PyObject* scan_context_piece(PyObject* module, PyObject* args);
// merge_context([blob, ...]) -> blob: a context file's partials merged in file order.
PyObject* merge_context(PyObject* module, PyObject* args);
// render_table(stream_capsule, options) -> (header, body): an Arrow table as the export text
// profile_stream scans, the header line apart from the rows.
PyObject* render_table(PyObject* module, PyObject* args);

}  // namespace qorv_chemical_engineering_edge_py

// The module table's entries for the functions above (no trailing comma).
// clang-format off
#define QCE_PARTIAL_FUNCTIONS                                                                   \
    {"plan_file", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(                   \
         qorv_chemical_engineering_edge_py::plan_file)), METH_VARARGS | METH_KEYWORDS,            \
     "Plan an export file into pieces."},                                                        \
    {"scan_piece", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(                  \
         qorv_chemical_engineering_edge_py::scan_piece)), METH_VARARGS | METH_KEYWORDS,           \
     "Scan one piece of an export to a partial profile."},                                      \
    {"plan_parts", qorv_chemical_engineering_edge_py::plan_parts, METH_VARARGS,                 \
     "Plan a data frame's rendered text into pieces."},                                         \
    {"part_heads", qorv_chemical_engineering_edge_py::part_heads, METH_VARARGS,                 \
     "The partitions' first bytes an opening reads."},                                          \
    {"chain_parities", qorv_chemical_engineering_edge_py::chain_parities, METH_VARARGS,         \
     "The quote parity at each piece's start."},                                                \
    {"quotes_odd", qorv_chemical_engineering_edge_py::quotes_odd, METH_VARARGS,                 \
     "Whether bytes hold an odd number of quotes."},                                            \
    {"scan_text", qorv_chemical_engineering_edge_py::scan_text, METH_VARARGS,                   \
     "Scan export text in memory to a partial profile."},                                       \
    {"merge_partials", qorv_chemical_engineering_edge_py::merge_partials, METH_VARARGS,         \
     "Merge partial profiles in stream order."},                                                \
    {"finalize_partial", qorv_chemical_engineering_edge_py::finalize_partial, METH_VARARGS,     \
     "Finish a partial profile into the profile."},                                             \
    {"render_table", qorv_chemical_engineering_edge_py::render_table, METH_VARARGS,             \
     "Render an Arrow table as export text."},                                                  \
    {"plan_context", qorv_chemical_engineering_edge_py::plan_context, METH_VARARGS,             \
     "Plan a context file into pieces by its size."},                                           \
    {"scan_context_piece", qorv_chemical_engineering_edge_py::scan_context_piece, METH_VARARGS, \
     "Read one piece of a context file to its partial."},                                       \
    {"merge_context", qorv_chemical_engineering_edge_py::merge_context, METH_VARARGS,           \
     "Merge a context file's partials in file order."}
// clang-format on
