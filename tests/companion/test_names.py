"""The names the package takes from the core: the names table, a tag mapping read as a tag
list is, instants rendered once, and no import circle in the package."""
import ast
import csv
import datetime as dt
import importlib.metadata
import importlib.util
import os
import subprocess
import sys

import pytest

import qorv_chemical_engineering as q
import qorv_chemical_engineering_edge as edge
from export_files import write_export
from qorv_chemical_engineering_edge import _names


@pytest.fixture
def export_path(tmp_path):
    path = tmp_path / "export.csv"
    write_export(path, 3, rows=150, tags=4)
    return str(path)


def test_the_readiness_fields_are_grade_readiness_arguments_in_its_order():
    values = (10, 1000, True, False, 0.05, 0.95, 0.0, 48.0, False, True, False, True, False)
    by_name = dict(zip(_names.READINESS_FIELDS, values))
    assert q.grade_readiness(*values) == q.grade_readiness(**by_name)
    assert edge.grade(**by_name).court_hash == q.grade_readiness(*values)["court_hash"]
    assert set(_names.DECLARED_FIELDS) <= set(_names.READINESS_FIELDS)


TAG_LISTS = [  # mappings a caller may give, each also written as a tag-list file
    {"TI200": "degC", "FIC100.SP": "kPa"},
    {" TI200 ": " degC\t", "FIC100.PV": ""},
    {'TI"200': 'k,Pa', "": "bar", "FIC100.OP": '"%"'},
    {"TI200": "line\nend", "FIC100.SP": "kPa\r"},
]


@pytest.mark.parametrize("mapping", TAG_LISTS)
def test_a_tag_mapping_profiles_as_its_tag_list_file(tmp_path, export_path, mapping):
    listing = tmp_path / "tags.csv"
    with open(listing, "w", newline="") as file:
        writer = csv.writer(file, quoting=csv.QUOTE_ALL, lineterminator="\n")
        writer.writerow(["tag", "unit"])
        writer.writerows(mapping.items())
    from_mapping = edge.profile_export(export_path, tag_list=mapping)
    from_file = edge.profile_export(export_path, tag_list=str(listing))
    assert from_mapping.tags == from_file.tags
    assert from_mapping.seal == from_file.seal
    assert from_mapping.options["tag_list"] == "<tag list>"


def test_a_mapping_with_keys_other_than_str_reads_them_as_str(export_path):
    assert (edge.profile_export(export_path, tag_list={200: 3}).seal
            == edge.profile_export(export_path, tag_list={"200": "3"}).seal)


EPOCH = dt.datetime(1970, 1, 1)
INSTANTS = [0, 1, -1, 999_999, 1_767_571_200_000_000, -62_135_596_800_000_000,
            253_402_300_799_999_999, 951_782_400_123_000]


@pytest.mark.parametrize("us", INSTANTS)
def test_an_instant_renders_as_its_iso_text(us):
    assert _names.format_instant(None) is None
    moment = EPOCH + dt.timedelta(microseconds=us)
    expected = moment.isoformat(timespec="microseconds" if moment.microsecond else "seconds")
    assert _names.format_instant(us) == expected + "Z"


# ---- imports ---------------------------------------------------------------------------------

PACKAGE = os.path.dirname(edge.__file__)
MODULES = sorted(n[:-3] for n in os.listdir(PACKAGE) if n.endswith(".py") and n != "__main__.py")
SUBMODULES = set(MODULES) | {n.split(".")[0] for n in os.listdir(PACKAGE) if n.endswith(".so")}


def _module_imports(name):
    """The package modules `name` imports when it loads (not under TYPE_CHECKING, not inside a
    function)."""
    tree = ast.parse(open(os.path.join(PACKAGE, name + ".py"), encoding="utf-8").read())
    found = set()

    def visit(nodes):
        for node in nodes:
            if isinstance(node, ast.If) and "TYPE_CHECKING" in ast.unparse(node.test):
                visit(node.orelse)
            elif isinstance(node, (ast.If, ast.Try)):
                visit(node.body)
                visit(getattr(node, "orelse", []))
                for handler in getattr(node, "handlers", []):
                    visit(handler.body)
            elif isinstance(node, ast.ImportFrom) and node.level == 1:
                if node.module:
                    found.add(node.module.split(".")[0])
                else:
                    found.update(a.name for a in node.names if a.name in MODULES)
                    if any(a.name not in SUBMODULES for a in node.names):
                        found.add("__init__")
    visit(tree.body)
    return found - {name}


def test_the_package_has_no_import_circle():
    graph = {m: _module_imports(m) & set(MODULES) for m in MODULES}
    done, path = set(), []

    def walk(m):
        if m in path:
            raise AssertionError("import circle: " + " -> ".join(path[path.index(m):] + [m]))
        if m in done:
            return
        path.append(m)
        for n in sorted(graph[m]):
            walk(n)
        path.pop()
        done.add(m)

    for m in MODULES:
        walk(m)


@pytest.mark.parametrize("module", [m for m in MODULES if m != "__init__"])
def test_each_module_imports_alone(module):
    name = "qorv_chemical_engineering_edge." + module
    if module == "dask" and importlib.util.find_spec("dask") is None:
        pytest.skip("Dask is not installed")
    run = subprocess.run([sys.executable, "-c", f"import {name}"], capture_output=True,
                         text=True, timeout=120, env={**os.environ})
    assert run.returncode == 0, run.stderr


# ---- version ---------------------------------------------------------------------------------

def _installed(found):
    def lookup(name):
        assert name == "qorv-chemical-engineering"
        if found is None:
            raise importlib.metadata.PackageNotFoundError(name)
        return found
    return lookup


PYPROJECT = '[build-system]\nrequires = ["x"]\n\n[project]\nname = "q"\nversion = "{v}"\n'
VERSIONS = [  # (installed version, pyproject.toml text, version given)
    ("2.3.4", PYPROJECT.format(v="0.1.0"), "2.3.4"),
    (None, PYPROJECT.format(v="0.7.1rc2"), "0.7.1rc2"),
    (None, None, "0+unknown"),
    (None, '[tool.other]\nversion = "9.9"\n\n[project]\nname = "q"\n', "0+unknown"),
    (None, '[project]\nname = "q"\n\n[tool.other]\nversion = "9.9"\n', "0+unknown"),
]


@pytest.mark.parametrize("installed, pyproject, expected", VERSIONS)
def test_the_version_is_the_installed_one_else_the_source_tree_s(tmp_path, installed, pyproject,
                                                                 expected):
    from qorv_chemical_engineering_edge import _version

    if pyproject is not None:
        (tmp_path / "pyproject.toml").write_text(pyproject)
    assert _version.version(_installed(installed), str(tmp_path)) == expected


def test_this_tree_reports_its_declared_version(capsys):
    try:
        declared = importlib.metadata.version("qorv-chemical-engineering")
    except importlib.metadata.PackageNotFoundError:
        root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.realpath(edge.__file__))))
        if not os.path.exists(os.path.join(root, "pyproject.toml")):
            pytest.skip("the package is neither installed nor in its source tree")
        text = open(os.path.join(root, "pyproject.toml")).read()
        declared = text.split("[project]", 1)[1].split('version = "', 1)[1].split('"', 1)[0]
    assert edge.__version__ == declared
    from qorv_chemical_engineering_edge.cli import main

    with pytest.raises(SystemExit):
        main(["--version"])
    assert capsys.readouterr().out == f"qce {declared}\n"
