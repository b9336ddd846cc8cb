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

// scan_range(path, start, end, opening, inside_quotes, options)
//   -> (blob, inside_quotes_used, quotes_odd)
// Scans bytes [start, end) of a file (end -1: to its end). From byte 0 the scanner reads the
// header; later ranges resume from `opening` (the file's first bytes, header and first data
// row inside). `inside_quotes` is the quote parity at `start`; None guesses it from the row
// before `start` (exact unless a quoted line break straddles that row start), and the caller
// checks the guess against `quotes_odd`, the parity of the quotes inside the range.
PyObject* scan_range(PyObject* module, PyObject* args);
// scan_text(label, offset, opening, inside_quotes, options, [bytes, ...]) -> blob
// As scan_range over bytes in memory (the pieces fed in order), at `offset` of the stream.
PyObject* scan_text(PyObject* module, PyObject* args);
// merge_partials([blob, ...]) -> blob: the blobs merged in the order given.
PyObject* merge_partials(PyObject* module, PyObject* args);
// finalize_partial(blob, options) -> the profile, as profile_files returns it.
PyObject* finalize_partial(PyObject* module, PyObject* args);
// render_table(stream_capsule, options) -> (header, body): an Arrow table as the export text
// profile_stream scans, the header line apart from the rows.
PyObject* render_table(PyObject* module, PyObject* args);

}  // namespace qorv_chemical_engineering_edge_py

// The module table's entries for the functions above (no trailing comma).
// clang-format off
#define QCE_PARTIAL_FUNCTIONS                                                                   \
    {"scan_range", qorv_chemical_engineering_edge_py::scan_range, METH_VARARGS,                 \
     "Scan a byte range of an export file to a partial profile."},                              \
    {"scan_text", qorv_chemical_engineering_edge_py::scan_text, METH_VARARGS,                   \
     "Scan export text in memory to a partial profile."},                                       \
    {"merge_partials", qorv_chemical_engineering_edge_py::merge_partials, METH_VARARGS,         \
     "Merge partial profiles in stream order."},                                                \
    {"finalize_partial", qorv_chemical_engineering_edge_py::finalize_partial, METH_VARARGS,     \
     "Finish a partial profile into the profile."},                                             \
    {"render_table", qorv_chemical_engineering_edge_py::render_table, METH_VARARGS,             \
     "Render an Arrow table as export text."}
// clang-format on
