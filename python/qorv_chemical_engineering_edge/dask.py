"""Profiling and grading exports on a Dask cluster, with the profile one process would give.

The native plan cuts each file into pieces (a file larger than `chunk_bytes` into byte ranges
at multiples of the profiler's 1 MiB digest block, so the input digest stays complete; a gzip
file whole). Every task scans its piece with the native scanner into a partial profile, which travels as the profiler's checked
binary serialisation; an ordered tree reduction on the cluster merges the partials and
finishes the profile. However the work is cut and in whatever order the tasks finish, the
profile, its seal and the court's `court_hash` equal those of `profile_export` on the same
input in one process.

The quote parity at a piece's first byte decides how the scanner reads it. The native scan
guesses it from the row before the piece (right unless a quoted line break straddles that row
start) and reports the parity of the quotes inside it; a small task per file chains those into
the true parity at each piece (natively), and only a piece whose guess was wrong is scanned
again. This module only schedules pieces and reduces partials.

Needs the `dask` extra: ``pip install 'qorv-chemical-engineering[dask]'``.
"""
from __future__ import annotations

import os
from contextlib import contextmanager
from typing import Any, Dict, Iterator, List, Mapping, Optional, Sequence, Tuple, Union

try:
    import dask
    from dask.delayed import Delayed, delayed
except ImportError as _missing:  # pragma: no cover - depends on the environment
    raise ImportError(
        "qorv_chemical_engineering_edge.dask needs Dask and distributed: "
        "pip install 'qorv-chemical-engineering[dask]'"
    ) from _missing

from . import _names, _native, _options, _sources
from .profile import _PROFILE_OPTIONS, ExportProfile, ExportReport, _from_native
from .readiness import grade

__all__ = ["profile_files", "profile_dataframe", "grade_files", "grade_dataframe"]

DIGEST_BLOCK: int = _native.DIGEST_BLOCK  # piece starts are multiples of it
DEFAULT_CHUNK = 64 << 20
_GLOB_CHARS = frozenset("*?[")


# ---- public entry points -----------------------------------------------------------------------

def profile_files(
    paths_or_glob: Union[str, "os.PathLike[str]", Sequence[Union[str, "os.PathLike[str]"]]],
    *,
    client: Any = None,
    chunk_bytes: int = DEFAULT_CHUNK,
    split_every: int = 8,
    progress: bool = False,
    **profile_options: Any,
) -> ExportProfile:
    """Profile an export of one or many files on Dask; the same profile as `profile_export`.

    `paths_or_glob` is a path, a glob (matches in sorted order) or a list of them, in export
    order; a URL that fsspec opens (``s3://bucket/day-*.csv``) is read through fsspec, each task
    fetching only its byte range. `client` is a `distributed.Client`, a scheduler address, or None for the active
    client if there is one, else the local threads. `profile_options` are those of
    `profile_export` (`threads` is ignored: each task scans on one core). `progress` shows
    Dask's own progress bar. Every file is checked before any work is sent; a missing file is
    FileNotFoundError and a file that is not an export is ValueError, both naming the file.
    """
    paths = expand_paths(paths_or_glob)
    options = _build_options(profile_options, None, None)
    final = _files_graph(paths, options, _piece_bytes(chunk_bytes), _split(split_every))
    return _from_native(_compute(final, client, progress), tuple(paths),
                        options)


def grade_files(paths_or_glob: Any, *, client: Any = None, chunk_bytes: int = DEFAULT_CHUNK,
                split_every: int = 8, progress: bool = False, **options: Any) -> ExportReport:
    """`grade_export` on Dask: the declared fields of `grade_export` plus `profile_files`'s
    arguments. The report's `court_hash` equals that of `grade_export` on the same files."""
    profile_options, declared, baseline = _split_declared(options, "grade_files")
    paths = expand_paths(paths_or_glob)
    native = _build_options(profile_options, declared, baseline, graded=True)
    final = _files_graph(paths, native, _piece_bytes(chunk_bytes), _split(split_every))
    profile = _from_native(_compute(final, client, progress), tuple(paths),
                           native)
    return ExportReport(record=grade(**profile.profile_arguments), profile=profile)


def profile_dataframe(ddf: Any, *, client: Any = None, label: Optional[str] = None,
                      split_every: int = 8, progress: bool = False,
                      **profile_options: Any) -> ExportProfile:
    """Profile a Dask DataFrame (wide or long layout), partition by partition.

    Each partition goes through the Arrow stream input, rendered to the export text
    `profile_export` scans for a table; the text is cut at digest-block multiples across
    partitions, so the profile equals `profile_export` of the whole table under the same
    `label` (default: the label `profile_export` gives the computed pandas frame).
    """
    options = _build_options(profile_options, None, None, table=True)
    label = label if label is not None else _frame_label(ddf)
    return _from_native(
        _frame_profile(ddf, label, options, client, split_every, progress),
        (label,), options)


def grade_dataframe(ddf: Any, *, client: Any = None, label: Optional[str] = None,
                    split_every: int = 8, progress: bool = False,
                    **options: Any) -> ExportReport:
    """`grade_export` of a Dask DataFrame; see `profile_dataframe` and `grade_files`."""
    profile_options, declared, baseline = _split_declared(options, "grade_dataframe")
    native = _build_options(profile_options, declared, baseline, table=True, graded=True)
    label = label if label is not None else _frame_label(ddf)
    profile = _from_native(
        _frame_profile(ddf, label, native, client, split_every, progress),
        (label,), native)
    return ExportReport(record=grade(**profile.profile_arguments), profile=profile)


def expand_paths(paths_or_glob: Any) -> List[str]:
    """The files named: globs expanded (sorted), every file checked to be there and readable."""
    items = [paths_or_glob] if isinstance(paths_or_glob, (str, os.PathLike)) else paths_or_glob
    if not isinstance(items, (list, tuple)):
        raise TypeError("paths_or_glob must be a path, a glob or a list of them, "
                        f"not {type(paths_or_glob).__name__}")
    paths: List[str] = []
    for item in items:
        text = os.fspath(item)
        if _is_url(text):
            paths.extend(_expand_url(text))
        else:
            paths.extend(_sources.expand(text))
    for path in paths:
        if _sources.is_parquet(path):
            raise ValueError(f"{path}: Parquet is read as a data frame: use "
                             "profile_dataframe(dask.dataframe.read_parquet(...))")
    local = [p for p in paths if not _is_url(p)]
    if local:
        _options.paths_of(local)  # FileNotFoundError / PermissionError naming the file
    return paths


def _is_url(path: str) -> bool:
    return "://" in path


def _remote(url: str) -> Tuple[Any, str]:
    """(fsspec file system, path within it) of a URL such as s3://bucket/key."""
    import fsspec

    return fsspec.core.url_to_fs(url)  # type: ignore[no-any-return]


def _expand_url(url: str) -> List[str]:
    fs, path = _remote(url)
    if _GLOB_CHARS.intersection(path) and not fs.exists(path):
        matches = sorted(fs.glob(path))
        if not matches:
            raise FileNotFoundError(2, "no file matches the pattern", url)
        return [fs.unstrip_protocol(m) for m in matches]
    if not fs.isfile(path):
        raise FileNotFoundError(2, "no such file", url)
    return [url]


def _size(path: str) -> int:
    if not _is_url(path):
        return os.path.getsize(path)
    fs, inner = _remote(path)
    return int(fs.size(inner))


def _read(url: str, start: int, end: Optional[int]) -> bytes:
    fs, path = _remote(url)
    return bytes(fs.cat_file(path, start, end))


# ---- options ----------------------------------------------------------------------------------

_DECLARED = (*_names.DECLARED_FIELDS, "baseline")


def _build_options(settings: Mapping[str, Any], declared: Optional[Mapping[str, Any]],
                   baseline: Any, table: bool = False, graded: bool = False) -> Dict[str, Any]:
    unknown = set(settings) - set(_PROFILE_OPTIONS) - {"threads"}
    if unknown:
        raise TypeError(f"unexpected keyword argument '{sorted(unknown)[0]}'")
    merged = {k: v for k, v in {**_PROFILE_OPTIONS, **settings}.items() if k != "progress"}
    if table:  # as profile_export renders a table
        merged["delimiter"] = ";" if merged.get("decimal") == "," else ","
        merged["encoding"] = None  # Arrow's strings are UTF-8
    if graded:  # as grade_export: the window is found and shown ("auto": and used)
        merged["baseline_search"] = "suggest"
    return _options.build(**merged, declared=declared, baseline=baseline)


def _split_declared(options: Dict[str, Any], caller: str) -> Tuple[Dict[str, Any], Any, Any]:
    """Separates grade_export's declared fields from the profile options, as it reads them."""
    given = {k: options.pop(k) for k in _DECLARED if k in options}
    baseline = given.pop("baseline", None)
    declared = _names.declared_fields(given)  # as grade_export checks them
    unknown = set(options) - set(_PROFILE_OPTIONS) - {"threads"}
    if unknown:
        raise TypeError(f"{caller}() got an unexpected keyword argument '{sorted(unknown)[0]}'")
    return options, declared, baseline


def _piece_bytes(chunk_bytes: int) -> int:
    if not isinstance(chunk_bytes, int) or chunk_bytes < DIGEST_BLOCK or chunk_bytes % DIGEST_BLOCK:
        raise ValueError(f"option chunk_bytes={chunk_bytes!r} must be a positive multiple of "
                         f"{DIGEST_BLOCK} (the digest block)")
    return chunk_bytes


def _split(split_every: int) -> int:
    if not isinstance(split_every, int) or split_every < 2:
        raise ValueError(f"option split_every={split_every!r} must be an int of 2 or more")
    return split_every


# ---- tasks (module level, so that workers import them by name) ---------------------------------

def _scan(piece: Dict[str, Any], options: Dict[str, Any],
          inside: Optional[bool] = None) -> Tuple[bytes, bool, bool]:
    """(blob, quote parity the scan started from, parity of the quotes inside the piece). A
    local file is read by the native scan itself; a URL's bytes are fetched here."""
    if not _is_url(piece["path"]):
        return _native.scan_piece(piece, options, inside)
    return _native.scan_piece(piece, options, inside, **_fetch(piece, inside is None))


def _fetch(piece: Dict[str, Any], guess: bool) -> Dict[str, Any]:
    """The bytes a piece's scan reads, from a URL: the piece, the opening it resumes from, and
    what lies just before it when its quote parity is to be guessed."""
    path, start = piece["path"], piece["start"]
    if piece["gzip"]:
        data = []
        with _open_gzip(path) as file:
            while True:
                inflated = file.read(DIGEST_BLOCK)
                if not inflated:
                    break
                data.append(inflated)
    else:
        data = [_read(path, start, piece["end"])]
    opening = _read(path, 0, piece["header_bytes"]) if piece["header_bytes"] else None
    before = _read(path, piece["guess_from"], start) if guess and start else None
    return {"data": data, "opening": opening, "before": before}


def _open_gzip(path: str) -> Any:
    import fsspec

    return fsspec.open(path, "rb", compression="gzip").open()


def _quotes_odd(scanned: Tuple[bytes, bool, bool]) -> bool:
    return scanned[2]


def _parities(*odd: bool) -> List[bool]:
    return _native.chain_parities(list(odd))


def _settle(scanned: Tuple[bytes, bool, bool], parities: List[bool], index: int,
            piece: Dict[str, Any], options: Dict[str, Any]) -> bytes:
    """The piece's blob under its true quote parity, scanned again only after a wrong guess."""
    blob, assumed, _ = scanned
    if assumed == parities[index]:
        return blob
    return _scan(piece, options, parities[index])[0]


def _blob(scanned: Tuple[bytes, bool, bool]) -> bytes:
    return scanned[0]


def _merge(*blobs: bytes) -> bytes:
    return _native.merge_partials(list(blobs))


def _finalize(blob: bytes, options: Dict[str, Any], *contexts: bytes) -> Dict[str, Any]:
    """The profile, with each context file's merged partial attached (read by the tasks before)."""
    return _native.finalize_partial(blob, options,
                                    list(contexts) if options.get("context") else None)


def _scan_context(piece: Dict[str, Any], options: Dict[str, Any],
                  inside: Optional[bool] = None) -> Tuple[bytes, bool, bool]:
    return _native.scan_context_piece(piece, options, inside)  # type: ignore[no-any-return]


def _settle_context(scanned: Tuple[bytes, bool, bool], parities: List[bool], index: int,
                    piece: Dict[str, Any], options: Dict[str, Any]) -> bytes:
    """As _settle, for a context file's piece."""
    blob, assumed, _ = scanned
    if assumed == parities[index]:
        return blob
    return _scan_context(piece, options, parities[index])[0]


def _merge_context(*blobs: bytes) -> bytes:
    return _native.merge_context(list(blobs))  # type: ignore[no-any-return]


def _context_graph(options: Dict[str, Any], chunk: int, split_every: int) -> List[Delayed]:
    """One merged partial per context file, in the options' order: each file planned by its size
    alone (the client reads none of it), its pieces read by tasks and merged in order."""
    merged: List[Delayed] = []
    for path, kind in options.get("context") or []:
        pieces = _native.plan_context(path, kind, os.path.getsize(path), chunk)
        if len(pieces) == 1:
            blobs = [delayed(_blob, pure=True)(
                delayed(_scan_context, pure=False)(pieces[0], options, False))]
        else:
            scans = [delayed(_scan_context, pure=False)(piece, options) for piece in pieces]
            parities = delayed(_parities, pure=True)(*[delayed(_quotes_odd, pure=True)(s)
                                                       for s in scans])
            blobs = [delayed(_settle_context, pure=True)(scanned, parities, i, piece, options)
                     for i, (scanned, piece) in enumerate(zip(scans, pieces))]
        while len(blobs) > 1:
            blobs = [delayed(_merge_context, pure=True)(*blobs[i:i + split_every])
                     for i in range(0, len(blobs), split_every)]
        merged.append(blobs[0])
    return merged


# ---- files ------------------------------------------------------------------------------------

def _plan(path: str, options: Dict[str, Any], piece_bytes: int) -> List[Dict[str, Any]]:
    """The file's pieces from the native plan; ValueError naming the file when it is not an
    export (checked here, before any task is sent). A URL's opening is fetched as it asks."""
    if not _is_url(path):
        return _native.plan_file(path, options, piece_bytes)[0]
    size, head = _size(path), b""
    while True:
        pieces, need = _native.plan_file(path, options, piece_bytes, head, size)
        if not need:
            return pieces
        head += _read(path, len(head), need)


def _files_graph(paths: Sequence[str], options: Dict[str, Any], chunk: int,
                 split_every: int) -> Delayed:
    return _reduce(_file_pieces(paths, options, chunk), options, split_every, chunk)


def _file_pieces(paths: Sequence[str], options: Dict[str, Any], chunk: int) -> List[Delayed]:
    """One blob per piece, in export order. Scans get fresh keys every run: a file rewritten
    between two runs on one client must not reuse the first run's results."""
    partials: List[Delayed] = []
    for path in paths:
        pieces = _plan(path, options, chunk)
        if len(pieces) == 1:
            partials.append(delayed(_blob, pure=True)(
                delayed(_scan, pure=False)(pieces[0], options, False)))
            continue
        scans = [delayed(_scan, pure=False)(piece, options) for piece in pieces]
        parities = delayed(_parities, pure=True)(*[delayed(_quotes_odd, pure=True)(s)
                                                   for s in scans])
        partials.extend(delayed(_settle, pure=True)(scanned, parities, i, piece, options)
                      for i, (scanned, piece) in enumerate(zip(scans, pieces)))
    return partials


def _reduce(partials: List[Delayed], options: Dict[str, Any], split_every: int,
            chunk: int = DEFAULT_CHUNK) -> Delayed:
    """An ordered tree: consecutive groups of `split_every` merged, level by level, then finished
    with the context files' merged partials (see _context_graph)."""
    level = partials
    while len(level) > 1:
        level = [delayed(_merge, pure=True)(*level[i:i + split_every])
                 for i in range(0, len(level), split_every)]
    contexts = _context_graph(options, chunk, split_every)
    return delayed(_finalize, pure=True)(level[0], options, *contexts)


# ---- data frames ------------------------------------------------------------------------------

def _frame_label(ddf: Any) -> str:
    meta = getattr(ddf, "_meta", None)
    kind = type(meta) if meta is not None else type(ddf)
    return f"<{kind.__module__.split('.')[0]}.{kind.__name__}>"


def _render(part: Any, options: Dict[str, Any]) -> Tuple[bytes, bytes]:
    """(header, rows) of one partition as the export text profile_export scans for a table."""
    import pyarrow as pa

    table = part if isinstance(part, pa.Table) else pa.Table.from_pandas(part, preserve_index=False)
    return _native.render_table(table.__arrow_c_stream__(), options)


def _text_facts(rendered: Tuple[bytes, bytes]) -> Tuple[bytes, int, bool]:
    header, body = rendered
    return header, len(body), _native.quotes_odd(body)


def _head(rendered: Tuple[bytes, bytes], n: int) -> bytes:
    return rendered[1][:n]


def _scan_frame_piece(label: str, piece: Dict[str, Any], opening: bytes,
                      options: Dict[str, Any], header: bytes,
                      rendered: Tuple[bytes, bytes], *heads: bytes) -> bytes:
    """Scans one piece of the planned text: the rest of its partition's rows from the piece's
    `skip` on, then the heads of the partitions after it."""
    body, skip = rendered[1], piece["skip"]
    inside = piece["part_inside_quotes"] ^ _native.quotes_odd(body, skip)
    pieces = ([header] if piece["start"] == 0 else []) + [memoryview(body)[skip:].tobytes(), *heads]
    return _native.scan_text(label, piece["start"], opening, inside, options, pieces)


def _frame_profile(ddf: Any, label: str, options: Dict[str, Any], client: Any,
                   split_every: int, progress: bool) -> Dict[str, Any]:
    with _client_of(client) as active:
        return _run(_frame_graph(ddf, label, options, active, _split(split_every)), active,
                    progress)


def _frame_graph(ddf: Any, label: str, options: Dict[str, Any], client: Any,
                 split_every: int) -> Delayed:
    """The graph over the partitions' text as the native plan cuts it; `client` is the active
    distributed client or None, and holds the rendered partitions until the graph has run."""
    parts = ddf.to_delayed()
    if not parts:
        raise ValueError(f"{label}: the data frame has no partitions")
    rendered = _persist([delayed(_render, pure=True)(p, options) for p in parts], client)
    facts = _gather([delayed(_text_facts, pure=True)(r) for r in rendered], client)
    header = facts[0][0]
    for p, (other, _, _) in enumerate(facts):
        if other != header:
            raise ValueError(f"{label}: partition {p} has other columns than partition 0")
    part_facts = [(length, odd) for _, length, odd in facts]
    pieces = _native.plan_parts(header, part_facts)
    total = pieces[-1]["end"]
    # The opening later pieces resume from: the rows' heads gathered as the native plan asks.
    head = header
    while True:
        need = _native.plan_file(label, options, 0, head, total, text=True)[1]
        if not need:
            break
        heads = [delayed(_head, pure=True)(rendered[q], n)
                 for q, n in _native.part_heads(len(header), part_facts, need)]
        head = header + b"".join(_gather(heads, client))
    opening = delayed(head, name="qce-opening-" + dask.base.tokenize(label, total))
    partials = [delayed(_scan_frame_piece, pure=True)(
        label, piece, opening, options, header, rendered[piece["part"]],
        *[delayed(_head, pure=True)(rendered[q], n) for q, n in piece["heads"]])
        for piece in pieces]
    return _reduce(partials, options, split_every)


# ---- running ----------------------------------------------------------------------------------

@contextmanager
def _client_of(client: Any) -> Iterator[Any]:
    """The distributed client to use: the one given, one connected to an address (closed
    afterwards; the wait is Dask's `distributed.comm.timeouts.connect`), the active one, or
    None for the local threads."""
    if client is None:
        active = None
        try:
            from distributed import get_client

            active = get_client()
        except (ImportError, ValueError):  # no distributed, or no client: local threads
            pass
        yield active
        return
    if isinstance(client, str):
        from distributed import Client

        try:
            connected = Client(client, set_as_default=False)
        except (OSError, TimeoutError) as error:
            raise ConnectionError(f"{client}: no Dask scheduler answers ({error})") from None
        try:
            yield connected
        finally:
            connected.close()
        return
    yield client


def _persist(items: List[Delayed], client: Any) -> List[Delayed]:
    if client is None:
        return list(dask.persist(*items, scheduler="threads"))
    return list(client.persist(items))


def _gather(items: List[Delayed], client: Any) -> List[Any]:
    if not items:
        return []
    if client is None:
        return list(dask.compute(*items, scheduler="threads"))
    return list(client.gather(client.compute(items)))


def _compute(final: Delayed, client: Any, progress: bool) -> Dict[str, Any]:
    with _client_of(client) as active:
        return _run(final, active, progress)


def _run(final: Delayed, active: Any, progress: bool) -> Dict[str, Any]:
    if active is None:
        if not progress:
            return final.compute(scheduler="threads")
        from dask.diagnostics import ProgressBar

        with ProgressBar():
            return final.compute(scheduler="threads")
    future = active.compute(final)
    # From here only the scheduler holds the graph's inputs (a data frame's rendered
    # partitions, say), so each is freed once the tasks that read it have run.
    del final
    try:
        if progress:
            from distributed import progress as show

            show(future)
        return future.result()
    finally:
        future.release()
