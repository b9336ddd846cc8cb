"""Reference counts and memory stay flat over a few thousand calls of every new function."""
import gc
import sys

import pytest

import qorv_chemical_engineering_edge as edge
from qorv_chemical_engineering_edge import _native
from export_files import write_export


@pytest.fixture(scope="module")
def export(tmp_path_factory):
    path = tmp_path_factory.mktemp("refs") / "export.csv"
    write_export(path, 2, rows=30, tags=3)
    return str(path)


def fresh(text):
    return "".join(list(text))


def calls(export):
    pairs = [(fresh("kPa"), fresh("Pa")), (fresh("degC"), fresh("furlong"))]
    table = None
    try:
        import pyarrow as pa
        table = pa.table({"Timestamp": ["2026-01-01 00:00:00", "2026-01-01 00:01:00"],
                          "A": [1.5, None]})
    except ImportError:
        pass
    # check_units reads any iterable of assertions natively; its failures leave nothing behind.
    claim = edge.UnitAssertion(fresh("barg"), fresh("bara"), context=fresh("balance"),
                               relation=fresh("additively_combined"))
    mapping = {"a_unit": fresh("degC"), "b_unit": fresh("K"), "a_name": fresh("TI1")}
    bad_mapping = {"a_unit": fresh("degC"), "colour": fresh("red")}
    bad_relation = edge.UnitAssertion(fresh("m"), fresh("m"), relation=fresh("added"))
    bad_pair = (fresh("kPa"), 3.5)
    tag_list = b"tag,unit\nTI1,degC\nPI1,barg\n"
    found = {
        "grade": (edge.grade, (10, 1000, True, True, 0.05, 0.95), pairs),
        "grade_error": (edge.grade, (10, 1000, 1, True, 0.05, 0.95), pairs),
        "check_units_v1": (lambda p: edge.check_units(p, court="v1"), (pairs,), pairs),
        "check_units_v2": (edge.check_units, (pairs,), pairs),
        "check_units_forms": (edge.check_units, ([claim, mapping, pairs[0]],),
                              [claim, mapping, *mapping.values(), claim.relation]),
        "check_units_generator": (lambda p: edge.check_units(iter(p), court="v1"), (pairs,),
                                  pairs),
        "check_units_bad_mapping": (edge.check_units, ([pairs[0], bad_mapping],),
                                    [bad_mapping, *bad_mapping.values()]),
        "check_units_bad_relation": (edge.check_units, ([bad_relation],),
                                     [bad_relation, bad_relation.relation]),
        "check_units_bad_pair": (edge.check_units, ([pairs[1], bad_pair],), [bad_pair, *bad_pair]),
        "parse_unit": (edge.parse_unit, (pairs[0][0],), pairs),
        "parse_unit_none": (edge.parse_unit, (pairs[1][1],), pairs),
        "profile_export": (edge.profile_export, (export,), [export]),
        "grade_export": (edge.grade_export, (export,), [export]),
        "missing_file": (edge.profile_export, (export + ".absent",), [export]),
        "read_tag_list": (_native.read_tag_list, (export, tag_list), [export, tag_list]),
        "read_tag_list_error": (_native.read_tag_list, (export, b"\n"), [export]),
    }
    if table is not None:
        found["arrow"] = (edge.profile_export, (table,), [table])
    return found


def run(function, args, times):
    for _ in range(times):
        try:
            function(*args)
        except (TypeError, ValueError, OSError):
            pass


@pytest.mark.parametrize("name", ["grade", "grade_error", "check_units_v1", "check_units_v2",
                                  "check_units_forms", "check_units_generator",
                                  "check_units_bad_mapping", "check_units_bad_relation",
                                  "check_units_bad_pair", "parse_unit", "parse_unit_none", "profile_export",
                                  "grade_export", "missing_file", "arrow"])
def test_flat(export, name):
    table = calls(export)
    if name not in table:
        pytest.skip("pyarrow is not installed")
    function, args, watched = table[name]
    times = 300 if "export" in name or name in ("arrow", "missing_file") else 3000
    run(function, args, times // 2)  # caches and free lists settle first
    gc.collect()
    refs = [sys.getrefcount(o) for o in watched]
    blocks = sys.getallocatedblocks()
    run(function, args, times)
    gc.collect()
    assert [sys.getrefcount(o) for o in watched] == refs
    # A leak of one block per call would grow by `times`; caches settling grow by far less.
    assert sys.getallocatedblocks() - blocks < times // 2
