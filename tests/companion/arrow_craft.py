"""Arrow C streams put together by hand with ctypes, without an Arrow library, so that a test can
offer the profiler arrays that disagree with their schema.

`Col(name, fmt, array)` is a column; `array(length, buffers, ...)` an array, its buffers given as
bytes (or None); `Stream(columns, batches=None)` offers `__arrow_c_stream__`. By default the
stream has one batch whose children are the columns' arrays; `batches` replaces it with
`Batch(...)` objects, each holding its own children (which may lie about the schema).
"""
import ctypes
import struct
from dataclasses import dataclass, field
from typing import List, Optional


class ArrowSchema(ctypes.Structure):
    pass


class ArrowArray(ctypes.Structure):
    pass


class ArrowArrayStream(ctypes.Structure):
    pass


SchemaRelease = ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowSchema))
ArrayRelease = ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowArray))
GetSchema = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(ArrowArrayStream),
                             ctypes.POINTER(ArrowSchema))
GetNext = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.POINTER(ArrowArrayStream),
                           ctypes.POINTER(ArrowArray))
GetLastError = ctypes.CFUNCTYPE(ctypes.c_void_p, ctypes.POINTER(ArrowArrayStream))
StreamRelease = ctypes.CFUNCTYPE(None, ctypes.POINTER(ArrowArrayStream))

ArrowSchema._fields_ = [
    ("format", ctypes.c_char_p), ("name", ctypes.c_char_p), ("metadata", ctypes.c_char_p),
    ("flags", ctypes.c_int64), ("n_children", ctypes.c_int64),
    ("children", ctypes.POINTER(ctypes.POINTER(ArrowSchema))),
    ("dictionary", ctypes.POINTER(ArrowSchema)), ("release", SchemaRelease),
    ("private_data", ctypes.c_void_p)]
ArrowArray._fields_ = [
    ("length", ctypes.c_int64), ("null_count", ctypes.c_int64), ("offset", ctypes.c_int64),
    ("n_buffers", ctypes.c_int64), ("n_children", ctypes.c_int64),
    ("buffers", ctypes.POINTER(ctypes.c_void_p)),
    ("children", ctypes.POINTER(ctypes.POINTER(ArrowArray))),
    ("dictionary", ctypes.POINTER(ArrowArray)), ("release", ArrayRelease),
    ("private_data", ctypes.c_void_p)]
ArrowArrayStream._fields_ = [
    ("get_schema", GetSchema), ("get_next", GetNext), ("get_last_error", GetLastError),
    ("release", StreamRelease), ("private_data", ctypes.c_void_p)]


@SchemaRelease
def _release_schema(schema):
    schema.contents.release = SchemaRelease()


@ArrayRelease
def _release_array(array):
    array.contents.release = ArrayRelease()


_new_capsule = ctypes.pythonapi.PyCapsule_New
_new_capsule.restype = ctypes.py_object
_new_capsule.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p]


@dataclass
class Array:
    length: int
    buffers: List[Optional[bytes]]
    offset: int = 0
    null_count: int = 0
    n_buffers: Optional[int] = None  # None: len(buffers)
    children: List["Array"] = field(default_factory=list)
    n_children: Optional[int] = None  # None: len(children)
    dictionary: Optional["Array"] = None


def array(length, buffers, **knobs):
    return Array(length, list(buffers), **knobs)


@dataclass
class Col:
    name: str
    fmt: Optional[str]
    array: Optional[Array] = None
    dictionary_fmt: Optional[str] = None  # the values' format of a dictionary column


@dataclass
class Batch:
    children: List[Optional[Array]]
    length: int
    offset: int = 0
    n_children: Optional[int] = None


class Stream:
    """Offers the crafted table through `__arrow_c_stream__`; `fail_next` makes get_next
    fail, `on_release` runs when the consumer releases the stream."""

    def __init__(self, columns, batches=None, fail_next=False, on_release=None):
        self._keep = []
        self.columns = columns
        if batches is None:
            length = columns[0].array.length if columns else 0
            batches = [Batch([c.array for c in columns], length)]
        self.batches = [self._batch(b) for b in batches]
        self.schema = self._schema()
        self.fail_next = fail_next
        self.on_release = on_release
        self.released = False
        self.stream = ArrowArrayStream(GetSchema(self._get_schema), GetNext(self._get_next),
                                       GetLastError(lambda _: None),
                                       StreamRelease(self._release), None)

    def __arrow_c_stream__(self, requested_schema=None):
        return _new_capsule(ctypes.addressof(self.stream), b"arrow_array_stream", None)

    # -- building -------------------------------------------------------------------------
    def _c(self, value):
        self._keep.append(value)
        return value

    def _schema(self):
        children = (ctypes.POINTER(ArrowSchema) * max(1, len(self.columns)))()
        for i, column in enumerate(self.columns):
            if column.fmt is None and column.name is None:
                continue  # a missing child: the pointer stays null
            child = self._c(ArrowSchema(
                self._c(column.fmt.encode()) if column.fmt is not None else None,
                self._c(column.name.encode()), None, 2, 0, None, None, _release_schema, None))
            if column.dictionary_fmt is not None:
                child.dictionary = ctypes.pointer(self._c(ArrowSchema(
                    self._c(column.dictionary_fmt.encode()), None, None, 0, 0, None, None,
                    _release_schema, None)))
            children[i] = ctypes.pointer(child)
        self._c(children)
        return ArrowSchema(b"+s", b"", None, 0, len(self.columns), children, None,
                           _release_schema, None)

    def _array(self, shape):
        buffers = (ctypes.c_void_p * max(1, len(shape.buffers)))()
        for i, data in enumerate(shape.buffers):
            if data is not None:
                buffers[i] = ctypes.addressof(self._c(ctypes.create_string_buffer(data, len(data) + 1)))
        self._c(buffers)
        children = (ctypes.POINTER(ArrowArray) * max(1, len(shape.children)))()
        for i, child in enumerate(shape.children):
            children[i] = ctypes.pointer(self._c(self._array(child)))
        self._c(children)
        out = ArrowArray(shape.length, shape.null_count, shape.offset,
                         len(shape.buffers) if shape.n_buffers is None else shape.n_buffers,
                         len(shape.children) if shape.n_children is None else shape.n_children,
                         buffers, children, None, _release_array, None)
        if shape.dictionary is not None:
            out.dictionary = ctypes.pointer(self._c(self._array(shape.dictionary)))
        return out

    def _batch(self, shape):
        children = (ctypes.POINTER(ArrowArray) * max(1, len(shape.children)))()
        for i, child in enumerate(shape.children):
            if child is not None:
                children[i] = ctypes.pointer(self._c(self._array(child)))
        self._c(children)
        n = len(shape.children) if shape.n_children is None else shape.n_children
        return ArrowArray(shape.length, 0, shape.offset, 1, n, self._c((ctypes.c_void_p * 1)()),
                          children, None, _release_array, None)

    # -- the stream's callbacks -----------------------------------------------------------
    def _get_schema(self, stream, out):
        out[0] = self.schema
        return 0

    def _get_next(self, stream, out):
        if self.fail_next:
            return 5  # EIO
        if self.batches:
            out[0] = self.batches.pop(0)
        else:
            out[0] = ArrowArray()  # release null: the end
        return 0

    def _release(self, stream):
        self.released = True
        if self.on_release is not None:
            self.on_release()
        stream.contents.release = StreamRelease()


# -- buffers ----------------------------------------------------------------------------------

def pack(code, values):
    return struct.pack(f"<{len(values)}{code}", *values)


def bits(flags):
    """A validity (or boolean) bitmap, least significant bit first."""
    out = bytearray((len(flags) + 7) // 8)
    for i, flag in enumerate(flags):
        if flag:
            out[i // 8] |= 1 << (i % 8)
    return bytes(out)


def utf8(texts, large=False):
    """The buffers of a utf8 (or large_utf8) array of byte strings."""
    offsets, data = [0], b""
    for text in texts:
        data += text
        offsets.append(len(data))
    return [None, pack("q" if large else "i", offsets), data]


def utf8_column(name, texts, fmt="u"):
    encoded = [t.encode() if isinstance(t, str) else t for t in texts]
    return Col(name, fmt, array(len(texts), utf8(encoded, large=fmt in ("U", "Z"))))


def fixed_column(name, fmt, code, values):
    return Col(name, fmt, array(len(values), [None, pack(code, values)]))


def decimal_bytes(values, width):
    return b"".join(v.to_bytes(width, "little", signed=True) for v in values)
