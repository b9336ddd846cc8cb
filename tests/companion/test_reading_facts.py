"""Each file's summary states how it was read: the conventions, with how each was settled."""
import pytest

import qorv_chemical_engineering_edge as edge
from qorv_chemical_engineering_edge import _names

WIDE = "Time,FIC101.PV\n2026-01-01 00:00,1\n2026-01-01 00:01,2\n"
LONG = "tagname;timestamp;value\nFIC101.PV;2026-01-01 00:00;1,5\nFIC101.PV;2026-01-01 00:01;2\n"

CASES = [  # (name, bytes, options, facts as (name, value, how))
    ("plain", WIDE.encode(), {},
     [("encoding", "utf-8", "default"), ("delimiter", ",", "detected"),
      ("decimal", ".", "default"), ("layout", "wide", "detected"),
      ("row_order", "oldest_first", "detected"), ("header_line", "1", "detected"),
      ("title_lines", "0", "detected"), ("unit_source", "none", "default"),
      ("time_columns", "Time", "detected"), ("timestamp_format", "auto", "default")]),
    ("bom_long_given", b"\xef\xbb\xbf" + LONG.encode(), {"layout": "long", "decimal": ","},
     [("encoding", "utf-8-bom", "detected"), ("delimiter", ";", "detected"),
      ("decimal", ",", "given"), ("layout", "long", "given"),
      ("row_order", "oldest_first", "detected"), ("header_line", "1", "detected"),
      ("title_lines", "0", "detected"), ("unit_source", "none", "default"),
      ("time_columns", "timestamp", "detected"), ("timestamp_format", "auto", "default"),
      ("tag_column", "tagname", "detected"), ("value_columns", "value", "detected")]),
    ("tab_given", WIDE.replace(",", "\t").encode(), {"delimiter": "\t"},
     [("encoding", "utf-8", "default"), ("delimiter", "tab", "given"),
      ("decimal", ".", "default"), ("layout", "wide", "detected"),
      ("row_order", "oldest_first", "detected"), ("header_line", "1", "detected"),
      ("title_lines", "0", "detected"), ("unit_source", "none", "default"),
      ("time_columns", "Time", "detected"), ("timestamp_format", "auto", "default")]),
]


@pytest.mark.parametrize("name, data, options, facts", CASES, ids=[c[0] for c in CASES])
def test_each_file_states_its_reading(tmp_path, name, data, options, facts):
    path = tmp_path / f"{name}.csv"
    path.write_bytes(data)
    profile = edge.profile_export(str(path), **options)
    reading = profile.files[0].reading
    assert [(r.name, r.value, r.how) for r in reading] == facts
    # Stated in the names table's order, and carried into the dictionary form.
    order = [_names.READING_FACTS.index(r.name) for r in reading]
    assert order == sorted(order)
    assert profile.to_dict()["files"][0]["reading"] == [
        {"name": n, "value": v, "how": h} for n, v, h in facts]
