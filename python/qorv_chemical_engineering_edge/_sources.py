"""Where an export's bytes come from: files, Parquet files, Arrow tables; and progress."""
from __future__ import annotations

import contextlib
import glob
import os
import sys
from typing import Any, Callable, Iterator, List, Optional, Sequence, Tuple, Union

Progress = Callable[[int, int], None]
_PARQUET = (".parquet", ".pq")
_GZIP = ".gz"
_GLOB_CHARS = frozenset("*?[")
_BOM = "\ufeff"


def is_parquet(path: str) -> bool:
    return path.lower().endswith(_PARQUET)


def is_gzip(path: str) -> bool:
    return path.lower().endswith(_GZIP)


def is_pattern(path: str) -> bool:
    """Whether `path` is a glob to expand: it holds * ? or [ and names no existing file."""
    return bool(_GLOB_CHARS.intersection(path)) and not os.path.exists(path)


def expand(path: str) -> List[str]:
    """A local path as the files it names: a glob's matches, sorted (FileNotFoundError naming
    the pattern when none match), else the path itself."""
    if not is_pattern(path):
        return [path]
    matches = sorted(glob.glob(path))
    if not matches:
        raise FileNotFoundError(2, "no file matches the pattern", path)
    return matches


def without_bom(text: str) -> str:
    """Text read from a file or a pipe, less one leading byte-order mark: the way the core
    library reads exports and tag lists (their bytes are handed to it as read)."""
    return text[1:] if text.startswith(_BOM) else text


def arrow_stream(source: Any) -> Optional[Tuple[str, Any]]:
    """(label, stream capsule) of a table offering the Arrow PyCapsule stream, else None."""
    offer = getattr(type(source), "__arrow_c_stream__", None)
    if offer is None:
        return None
    kind = type(source)
    label = f"<{kind.__module__.split('.')[0]}.{kind.__name__}>"
    return label, source.__arrow_c_stream__()


def parquet_stream(paths: Sequence[str]) -> Optional[Tuple[str, Any]]:
    """(label, stream capsule) over the batches of Parquet files, or None for other files."""
    parquet = [is_parquet(p) for p in paths]
    if not any(parquet):
        return None
    if not all(parquet):
        raise ValueError("source mixes Parquet and CSV files; one export is one kind of file")
    try:
        import pyarrow as pa  # type: ignore[import-untyped,unused-ignore]
        import pyarrow.parquet as pq  # type: ignore[import-untyped,unused-ignore]
    except ImportError:
        raise ValueError(
            f"{paths[0]}: reading Parquet needs pyarrow (pip install "
            "'qorv-chemical-engineering[parquet]')"
        ) from None
    files = []
    for path in paths:
        try:
            files.append(pq.ParquetFile(path))
        except (pa.ArrowInvalid, OSError) as error:
            raise ValueError(f"{path}: not a readable Parquet file ({error})") from None
    schema = files[0].schema_arrow
    for path, file in zip(paths[1:], files[1:]):
        if not file.schema_arrow.equals(schema):
            raise ValueError(f"{path}: its columns differ from those of {paths[0]}")

    def batches() -> Iterator[Any]:
        for file in files:
            yield from file.iter_batches(batch_size=65536)

    reader = pa.RecordBatchReader.from_batches(schema, batches())
    return paths[0] if len(paths) == 1 else f"{paths[0]} (+{len(paths) - 1})", \
        reader.__arrow_c_stream__()


@contextlib.contextmanager
def progress_reporter(progress: Union[None, bool, Progress],
                      paths: Sequence[str]) -> Iterator[Optional[Progress]]:
    """The callable handed to the profiler: the caller's own, or a tqdm bar on a terminal."""
    if progress is None or progress is False:
        yield None
        return
    if progress is not True:
        if not callable(progress):
            raise TypeError("option progress must be None, True or a callable(done, total)")
        yield progress
        return
    if not sys.stderr.isatty():
        yield None
        return
    from tqdm import tqdm  # type: ignore[import-untyped,unused-ignore]

    total = sum(os.path.getsize(p) for p in paths)
    with tqdm(total=total, unit="B", unit_scale=True, unit_divisor=1024,
              desc="profiling", file=sys.stderr, leave=False) as bar:
        def update(done: int, total: int) -> None:
            if total and bar.total != total:  # the profiler counts what it scans (.gz: unpacked)
                bar.total = total
            bar.update(done - bar.n)

        yield update
