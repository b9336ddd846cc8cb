"""Encodings: one small wide export saved as a spreadsheet saves it (tab-separated, CRLF, a unit
row) in UTF-8, UTF-8 with a BOM, UTF-16 LE and BE with a BOM (the "Unicode text" save) and
Windows-1252, plain and gzipped; the encoding option; BOM-less and damaged UTF-16; tag lists.

The values are worked out by hand from TEXT: 4 tags x 4 rows; missing are FI102's empty cell,
TI101's "Bad" (a bad state) and PI103's "Überlauf" (text in a numeric tag): 3 / 16 = 0.1875;
the rows span 3 minutes = 0.05 h; the units °C, m³/h, kPa and µS/cm are all recognised.
"""
import gzip
import hashlib
import json
import subprocess
import sys

import pytest

import qorv_chemical_engineering_edge as edge
from qorv_chemical_engineering_edge import _native, _options
from qorv_chemical_engineering_edge.profile import _PROFILE_OPTIONS, _from_native

TEXT = ("Time\tTI101\tFI102\tPI103\tAI104\r\n"
        "Units\t°C\tm³/h\tkPa\tµS/cm\r\n"
        "2026-03-01 00:00:00\t20.5\t3.2\t101.3\t50\r\n"
        "2026-03-01 00:01:00\t20.7\t\t101.4\t51\r\n"
        "2026-03-01 00:02:00\tBad\t3.4\t101.0\t52\r\n"
        "2026-03-01 00:03:00\t21.0\t3.5\tÜberlauf\t53\r\n")
UNITS = ["°C", "m³/h", "kPa", "µS/cm"]
# The texts holding a byte above 0x7F: the three non-ASCII units and the cell text.
NON_ASCII_TEXTS = 4


def utf16(text, order, bom=True):
    data = text.encode("utf-16-le" if order == "le" else "utf-16-be", "surrogatepass")
    return ((b"\xff\xfe" if order == "le" else b"\xfe\xff") if bom else b"") + data


def digest(scanned):
    """The input digest of one file under 1 MiB: SHA-256 over the file's digest, itself over
    its one block's digest."""
    h = hashlib.sha256
    return h(h(h(scanned).digest()).digest()).hexdigest()


def write(tmp_path, name, data, gz=False):
    path = tmp_path / (name + (".txt.gz" if gz else ".txt"))
    path.write_bytes(gzip.compress(data) if gz else data)
    return str(path)


# (save, its bytes, the bytes scanned (and digested), texts read as Windows-1252, the file's
# encoding fact). A UTF-16 save is scanned as the UTF-8 its BOM decodes to, so it shares the
# UTF-8 BOM save's digest.
SAVES = [
    ("utf-8", TEXT.encode(), TEXT.encode(), 0, ("utf-8", "default")),
    ("utf-8-bom", TEXT.encode("utf-8-sig"), TEXT.encode("utf-8-sig"), 0,
     ("utf-8-bom", "detected")),
    ("utf-16le-bom", utf16(TEXT, "le"), TEXT.encode("utf-8-sig"), 0, ("utf-16le", "detected")),
    ("utf-16be-bom", utf16(TEXT, "be"), TEXT.encode("utf-8-sig"), 0, ("utf-16be", "detected")),
    ("windows-1252", TEXT.encode("cp1252"), TEXT.encode("cp1252"), NON_ASCII_TEXTS,
     ("windows-1252", "detected")),
]


def encoding_fact(profile):
    return [(r.value, r.how) for r in profile.files[0].reading if r.name == "encoding"][0]


@pytest.mark.parametrize("gz", [False, True], ids=["plain", "gz"])
@pytest.mark.parametrize("save,data,scanned,decoded,fact", SAVES, ids=[s[0] for s in SAVES])
def test_every_save_reads_the_same(tmp_path, save, data, scanned, decoded, fact, gz):
    p = edge.profile_export(write(tmp_path, save, data, gz))
    v = {k: p.values[k].value for k in ("n_tags", "n_rows", "missingness", "unit_coverage",
                                        "time_span_hours", "duplicate_timestamps")}
    assert v == {"n_tags": 4, "n_rows": 4, "missingness": 0.1875, "unit_coverage": 1.0,
                 "time_span_hours": pytest.approx(0.05), "duplicate_timestamps": 0.0}
    assert [(t.name, t.unit, t.unit_recognised) for t in p.tags] == [
        ("TI101", "°C", True), ("FI102", "m³/h", True), ("PI103", "kPa", True),
        ("AI104", "µS/cm", True)]
    assert [(t.present, t.missing_empty, t.missing_bad_state, t.missing_text)
            for t in p.tags] == [(3, 0, 1, 0), (3, 1, 0, 0), (3, 0, 0, 1), (4, 0, 0, 0)]
    assert p.notes.other_texts == (("Überlauf", 1),)
    assert p.notes.windows_1252_texts == decoded
    assert p.notes.utf16_replacements == 0
    assert p.input_digest == digest(scanned)
    assert p.files[0].bytes == len(scanned) and p.files[0].delimiter == "\t"
    assert ("windows_1252_texts" in p.notes.to_dict()) == bool(decoded)
    assert encoding_fact(p) == fact


# (label, bytes, encoding given, units read, unit coverage, texts read as Windows-1252; the
# encoding fact's value, stated as given but under auto)
MOJIBAKE = [u.encode("utf-8").decode("cp1252") for u in UNITS]
GIVEN = [
    ("utf-8 given: no fallback", TEXT.encode("cp1252"), "utf-8",
     ["\ufffdC", "m\ufffd/h", "kPa", "\ufffdS/cm"], 0.25, 0, "utf-8"),
    ("windows-1252 given to UTF-8 bytes", TEXT.encode(), "windows-1252", MOJIBAKE, 0.25,
     NON_ASCII_TEXTS, "windows-1252"),
    ("cp1252 alias", TEXT.encode("cp1252"), "cp1252", UNITS, 1.0, NON_ASCII_TEXTS,
     "windows-1252"),
    ("auto", TEXT.encode("cp1252"), "auto", UNITS, 1.0, NON_ASCII_TEXTS, "windows-1252"),
    ("utf-16le given, no BOM", utf16(TEXT, "le", bom=False), "utf-16le", UNITS, 1.0, 0,
     "utf-16le"),
    ("utf-16be given, no BOM", utf16(TEXT, "be", bom=False), "utf-16be", UNITS, 1.0, 0,
     "utf-16be"),
    ("utf-16: order from the NULs", utf16(TEXT, "be", bom=False), "utf-16", UNITS, 1.0, 0,
     "utf-16be"),
    ("utf-16: order from the BOM", utf16(TEXT, "be"), "utf-16", UNITS, 1.0, 0, "utf-16be"),
    ("upper case", utf16(TEXT, "le", bom=False), "UTF-16LE", UNITS, 1.0, 0, "utf-16le"),
]


@pytest.mark.parametrize("label,data,encoding,units,coverage,decoded,fact", GIVEN,
                         ids=[g[0] for g in GIVEN])
def test_the_encoding_given_wins(tmp_path, label, data, encoding, units, coverage, decoded,
                                 fact):
    p = edge.profile_export(write(tmp_path, "given", data), encoding=encoding)
    assert [t.unit for t in p.tags] == units
    assert p.values["unit_coverage"].value == coverage
    assert p.values["missingness"].value == 0.1875
    assert p.notes.windows_1252_texts == decoded
    shown = _options.ENCODING_ALIASES.get(encoding.lower(), encoding.lower())
    assert p.options.get("encoding") == (None if shown == "auto" else shown)
    assert encoding_fact(p) == (fact, "detected" if shown == "auto" else "given")


# (label, bytes, encoding given, what the error must say)
REFUSED = [
    ("UTF-16LE without a BOM", utf16(TEXT, "le", bom=False), None, 'encoding="utf-16le"'),
    ("UTF-16BE without a BOM", utf16(TEXT, "be", bom=False), None, 'encoding="utf-16be"'),
    ("UTF-16LE read as utf-8", utf16(TEXT, "le"), "utf-8", 'encoding="utf-16le"'),
    ("binary, not UTF-16", b"\x00\x01\x02\x03PK\x00\x00\x07\n", None, r"binary data \(NUL"),
    ("an invalid choice", TEXT.encode(), "latin-9", "option encoding='latin-9' is not one of"),
]


@pytest.mark.parametrize("label,data,encoding,says", REFUSED, ids=[r[0] for r in REFUSED])
def test_a_misread_encoding_is_refused_naming_the_option(tmp_path, label, data, encoding, says):
    path = write(tmp_path, "refused", data)
    with pytest.raises(ValueError, match=says):
        edge.profile_export(path, encoding=encoding)


# (label, text saved as UTF-16LE with a BOM (surrogates passed through), the first tag's name,
# U+FFFD put in, rows whose timestamp does not parse)
DAMAGED = [
    ("unpaired high surrogate", TEXT.replace("TI101", "TI101\ud800"), "TI101\ufffd", 1, 0),
    ("lone low surrogate", TEXT.replace("TI101", "\udc00TI101"), "\ufffdTI101", 1, 0),
    ("high surrogate then high", TEXT.replace("TI101", "TI\ud800\ud801\udc00"),
     "TI\ufffd\U00010400", 1, 0),
    ("a pair kept", TEXT.replace("TI101", "TI\U0001d54f"), "TI\U0001d54f", 0, 0),
]


@pytest.mark.parametrize("label,text,name,replaced,unparsed", DAMAGED,
                         ids=[d[0] for d in DAMAGED])
def test_damaged_utf16_gives_replacement_characters_counted(tmp_path, label, text, name,
                                                            replaced, unparsed):
    p = edge.profile_export(write(tmp_path, "damaged", utf16(text, "le")))
    assert p.tags[0].name == name
    assert p.notes.utf16_replacements == replaced
    assert p.notes.unparsed_rows == unparsed
    assert p.values["n_rows"].value == 4
    assert (p.notes.to_dict().get("utf16_replacements", 0)) == replaced


def test_an_odd_last_byte_is_a_replacement_character(tmp_path):
    # The lone byte ends the file as a line of its own: one U+FFFD, a row without a timestamp.
    p = edge.profile_export(write(tmp_path, "odd", utf16(TEXT, "le") + b"2"),
                            accept_unparsed_rows=True)  # 1 of 5 rows: past the 5% limit
    assert (p.notes.utf16_replacements, p.notes.unparsed_rows) == (1, 1)
    assert p.values["n_rows"].value == 4


# An export naming a tag "Füllstand" without a unit row; the tag list gives it and TI101 their
# units. (label, tag list bytes, export bytes, encoding given)
EXPORT = ("Time,TI101,Füllstand\r\n2026-03-01 00:00:00,20.5,3\r\n"
          "2026-03-01 00:01:00,20.7,4\r\n")
TAG_LIST = "Tag,Unit\r\nTI101,°C\r\nFüllstand,m³\r\n"
TAG_LISTS = [
    ("utf-8 list, utf-8 export", TAG_LIST.encode(), EXPORT.encode(), None),
    ("windows-1252 list, utf-8 export", TAG_LIST.encode("cp1252"), EXPORT.encode(), None),
    ("utf-8 list, windows-1252 export", TAG_LIST.encode(), EXPORT.encode("cp1252"), None),
    ("utf-16le list, windows-1252 export", utf16(TAG_LIST, "le"), EXPORT.encode("cp1252"), None),
    ("both windows-1252, given", TAG_LIST.encode("cp1252"), EXPORT.encode("cp1252"), "cp1252"),
    ("bomless utf-16be list, utf-16be export, given", utf16(TAG_LIST, "be", bom=False),
     utf16(EXPORT, "be"), "utf-16"),
]


@pytest.mark.parametrize("label,listed,data,encoding", TAG_LISTS, ids=[t[0] for t in TAG_LISTS])
def test_a_tag_list_is_read_as_exports_are(tmp_path, label, listed, data, encoding):
    tags = tmp_path / "tags.csv"
    tags.write_bytes(listed)
    p = edge.profile_export(write(tmp_path, "export", data), tag_list=str(tags),
                            encoding=encoding)
    assert [(t.name, t.unit, t.unit_recognised) for t in p.tags] == [
        ("TI101", "°C", True), ("Füllstand", "m³", True)]
    assert p.values["unit_coverage"].value == 1.0
    assert p.notes.unit_disagreements == ()


def test_bomless_utf16_tag_list_is_refused_naming_the_option(tmp_path):
    tags = tmp_path / "tags.csv"
    tags.write_bytes(utf16(TAG_LIST, "le", bom=False))
    with pytest.raises(ValueError, match='tags.csv: .*encoding="utf-16le"'):
        edge.profile_export(write(tmp_path, "export", EXPORT.encode()), tag_list=str(tags))


def test_a_utf16_file_is_one_piece_scanned_in_order(tmp_path):
    # Over 2 MiB of UTF-16 (its UTF-8 spans two digest blocks): planned as one piece, whose
    # scan, as a Dask worker runs it, gives the profile of the one-process read.
    rows = "".join(f"2026-03-01 {m // 60 % 24:02d}:{m % 60:02d}:00\t{m % 50}\t1\t2\t3\r\n"
                   for m in range(40_000))
    path = write(tmp_path, "big", utf16(TEXT + rows, "le"))
    options = _options.build(**{k: v for k, v in _PROFILE_OPTIONS.items() if k != "progress"})
    pieces, need = _native.plan_file(path, options, 1 << 20)
    assert need == 0 and [(q["start"], q["gzip"]) for q in pieces] == [(0, False)]
    blob = _native.scan_piece(pieces[0], options)[0]
    scanned = _from_native(_native.finalize_partial(blob, options), (path,), options)
    whole = edge.profile_export(path)
    assert scanned.seal == whole.seal and whole.files[0].bytes == len(
        (TEXT + rows).encode("utf-8-sig"))
    assert whole.values["n_tags"].value == 4 and whole.notes.unparsed_rows == 0


# The command line: (extra arguments, exit code, what standard error must hold, the profile's
# unit coverage and encoding shown when it exits 0).
CLI = [
    ([], 2, 'encoding="utf-16le"', None),
    (["--encoding", "utf-16le"], 0, "", (1.0, "utf-16le")),
    (["--encoding", "latin-9"], 2, "--encoding", None),
]


@pytest.mark.parametrize("args,code,says,read", CLI, ids=["refused", "given", "bad choice"])
def test_the_command_line_takes_the_encoding(tmp_path, args, code, says, read):
    path = write(tmp_path, "bomless", utf16(TEXT, "le", bom=False))
    run = subprocess.run([sys.executable, "-m", "qorv_chemical_engineering_edge", "profile",
                          path, "--json", "-", *args], capture_output=True, text=True,
                         timeout=120)
    assert run.returncode == code, run.stderr
    assert says in run.stderr and "Traceback" not in run.stderr
    if read:
        shown = json.loads(run.stdout)
        coverage = [v["value"] for v in shown["values"] if v["name"] == "unit_coverage"]
        assert (coverage[0], shown["options"]["encoding"]) == read


@pytest.mark.parametrize("encoding", ["windows-1252", "utf-16le"])
def test_a_table_is_utf8_whatever_encoding_is_given(encoding):
    pa = pytest.importorskip("pyarrow")
    table = pa.table({"Time": ["2026-03-01 00:00:00", "2026-03-01 00:01:00"],
                      "TI101 °C": [20.5, None], "Zustand": ["Überlauf", "Überlauf"]})
    p = edge.profile_export(table, encoding=encoding)
    assert [t.name for t in p.tags] == ["TI101 °C", "Zustand"]
    assert p.notes.other_texts == (("Überlauf", 2),) and p.notes.windows_1252_texts == 0
    assert p.values["missingness"].value == 0.25
