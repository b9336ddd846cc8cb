"""The `qce` command: readiness, profile and units, for pipelines and people.

Exit codes: 0 when the verdict is Ready (or ReadyWithCaveats, unless --strict) and for a
profile or a units run without hazards; 1 for NotReadyMissingCriticalWitnesses (or caveats
under --strict) and for unit hazards; 2 for a usage error or an input that cannot be read,
with a one-line reason on standard error and never a traceback. A reader that stops reading
(`qce profile x.csv | head`) ends the run quietly with exit code 1, as Python's own tools do.
"""
from __future__ import annotations

import argparse
import csv
import io
import os
import re
import sys
from typing import Any, Callable, Dict, List, NoReturn, Optional, Sequence

from . import __version__, _names, _native
from ._options import CONTEXT_KINDS, ENCODING_ALIASES, parse_baseline
from ._sources import expand, without_bom
from .profile import grade_export, profile_export
from .units import (COURTS, RELATIONS, UnitAssertion, UnitCourtRecord, check_tag_units,
                    check_units)

USAGE_ERROR = 2
_TAB = "tab"  # how a command line spells the tab delimiter


class UsageError(Exception):
    """A bad command line or an unreadable input: exit code 2."""


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> NoReturn:  # one line, no usage block
        raise UsageError(f"{self.prog}: {message} (see {self.prog} --help)")


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = _build_parser()
    try:
        args = parser.parse_args(argv)
        if args.command is None:
            raise UsageError("qce: a command is required: readiness, profile or units "
                             "(see qce --help)")
        code = int(args.run(args))
        sys.stdout.flush()  # a closed pipe shows here, not at the interpreter's exit
        return code
    except BrokenPipeError:
        return _pipe_closed()
    except UsageError as error:
        return _fail(str(error))
    except (OSError, ValueError, TypeError, LookupError) as error:
        return _fail(f"qce: {_reason(error)}")
    except KeyboardInterrupt:
        return _fail("qce: interrupted", 130)
    except Exception as error:  # a fault of ours: still one line, never a traceback
        return _fail(f"qce: internal error ({type(error).__name__}): {error}")


def _pipe_closed() -> int:
    """The reader of standard output went away: nothing more to say to anyone. Standard output
    points at the null device so the interpreter's last flush does not fail again."""
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
    except (OSError, ValueError):  # stdout without a descriptor: nothing is left to flush
        pass
    return 1


def _fail(message: str, code: int = USAGE_ERROR) -> int:
    print(" ".join(message.split()), file=sys.stderr)
    return code


def _reason(error: BaseException) -> str:
    if isinstance(error, OSError) and error.filename is not None:
        return f"{error.filename}: {error.strerror or error}"
    return str(error) or type(error).__name__


# ---- commands ------------------------------------------------------------------------------

def _readiness(args: argparse.Namespace) -> int:
    baseline = (None if not args.baseline else "auto" if args.baseline == "auto"
                else parse_baseline(args.baseline))
    report = _on_dask(args, "grade_files", grade_export)(
        _export_paths(args.export),
        baseline_present=True if args.baseline_present else None,
        baseline=baseline,
        license_cleared=args.license_cleared,
        has_maintenance=True if args.has_maintenance else None,
        has_batches=True if args.has_batches else None,
        has_lab_samples=True if args.has_lab_samples else None,
        **_profile_options(args),
    )
    _write_outputs(args, report.to_json, report.to_html)
    if args.json != "-":
        print(report)
    if report.n_critical_missing > 0:
        return 1
    if args.strict and report.n_caveat > 0:
        return 1
    return 0


def _profile(args: argparse.Namespace) -> int:
    profile = _on_dask(args, "profile_files", profile_export)(
        _export_paths(args.export), **_profile_options(args))
    _write_outputs(args, profile.to_json, profile.to_html)
    if args.json != "-":
        print(profile)
    return 0


def _units(args: argparse.Namespace) -> int:
    if args.tags is not None or args.model is not None:
        record = _tag_units(args)
    else:
        record = check_units(_unit_pairs(args), court=args.court)
    _write_outputs(args, record.to_json, record.to_html)
    if args.json != "-":
        print(record)
    return 1 if record.n_hazard else 0


def _unit_pairs(args: argparse.Namespace) -> List[UnitAssertion]:
    if args.pairs is not None:
        if args.units:
            raise UsageError("qce units: give two units or --pairs FILE, not both")
        return _read_pairs(args.pairs, args.relation)
    if len(args.units) == 2:
        return [UnitAssertion(args.units[0], args.units[1], relation=args.relation)]
    raise UsageError("qce units: give two units A B, --pairs FILE or --tags EXPORT --model FILE "
                     "(see qce units --help)")


def _tag_units(args: argparse.Namespace) -> UnitCourtRecord:
    """The units an export gives its tags (a --tag-list's winning) against a model's."""
    if args.tags is None or args.model is None:
        raise UsageError("qce units: --tags EXPORT and --model FILE go together")
    if args.units or args.pairs is not None:
        raise UsageError("qce units: give --tags EXPORT --model FILE without unit pairs")
    with open(args.model, "rb") as file:  # OSError names the file
        expected = dict(_native.read_tag_list(args.model, file.read()))
    if not expected:
        raise ValueError(f"{args.model}: no tags with units in the model file")
    options = _profile_options(args)
    options["progress"] = False  # the record is all this command shows
    profile = _on_dask(args, "profile_files", profile_export)(_export_paths(args.tags), **options)
    return check_tag_units({tag.name: tag.unit for tag in profile.tags}, expected,
                           context="export", court=args.court)


def _read_pairs(path: str, relation: str) -> List[UnitAssertion]:
    """Unit pairs from CSV: a header naming a_unit and b_unit (and optionally context, a_name,
    b_name, relation), or no header and the two units in the first two columns."""
    if path == "-":
        text = without_bom(sys.stdin.read())
    else:
        with open(path, encoding="utf-8", newline="") as file:
            text = without_bom(file.read())
    rows = [r for r in csv.reader(io.StringIO(text)) if r and not r[0].startswith("#")]
    if not rows:
        raise ValueError(f"{path}: no unit pairs in the file")
    header = [c.strip() for c in rows[0]]
    assertions = []
    if "a_unit" in header and "b_unit" in header:
        for row in rows[1:]:
            fields: Dict[str, Any] = {"relation": relation}
            fields.update({k: v.strip() for k, v in zip(header, row) if k})
            try:
                assertions.append(UnitAssertion(**fields))
            except TypeError:
                unknown = set(fields) - set(UnitAssertion.__dataclass_fields__)
                raise ValueError(f"{path}: unknown column(s) {sorted(unknown)}") from None
    else:
        for number, row in enumerate(rows, start=1):
            if len(row) < 2:
                raise ValueError(f"{path}: line {number} does not hold two units")
            assertions.append(UnitAssertion(row[0].strip(), row[1].strip(), relation=relation))
    return assertions


def _write_outputs(args: argparse.Namespace, to_json: Callable[[], str],
                   to_html: Callable[[], str]) -> None:
    if args.json == "-":
        sys.stdout.write(to_json() + "\n")
    elif args.json:
        with open(args.json, "w", encoding="utf-8") as file:
            file.write(to_json() + "\n")
    if args.html:
        with open(args.html, "w", encoding="utf-8") as file:
            file.write(to_html())


def _profile_options(args: argparse.Namespace) -> Dict[str, Any]:
    return {
        "layout": args.layout,
        "tag_list": args.tag_list,
        "delimiter": {_TAB: "\t"}.get(args.delimiter, args.delimiter),
        "decimal": args.decimal,
        "day_first": args.day_first,
        "timestamp_format": args.timestamp_format,
        "tz": args.tz,
        "missing_values": args.missing_value,
        "good_quality": args.good_quality,
        "threads": args.threads,
        "accept_multiline_fields": args.accept_multiline_fields,
        "accept_unparsed_rows": args.accept_unparsed_rows,
        "quality_convention": args.quality_convention,
        "header_line": args.header_line,
        "encoding": args.encoding,
        "timestamp_columns": args.timestamp_columns,
        "context": _context_files(args.context),
        "health": not args.no_health,
        "progress": True,  # a bar only when standard error is a terminal
    }


def _context_files(given: Optional[Sequence[str]]) -> Optional[List[Any]]:
    """--context FILE or KIND=FILE (lab, maintenance, batches): a path, or a (kind, path) pair
    for a file read as that kind."""
    if not given:
        return None
    files: List[Any] = []
    for text in given:
        kind, sep, path = text.partition("=")
        files.append((kind, path) if sep and kind in CONTEXT_KINDS else text)
    return files


def _export_paths(patterns: Sequence[str]) -> List[str]:
    """The files in order; a pattern the shell left unexpanded ('data/*.csv') expands here,
    sorted."""
    return [path for pattern in patterns for path in expand(pattern)]


def _on_dask(args: argparse.Namespace, name: str, local: Any) -> Any:
    """The local function, or its Dask counterpart bound to --scheduler."""
    if args.scheduler is None:
        return local
    try:
        from . import dask as on_dask
    except ImportError as error:
        raise UsageError(f"qce: --scheduler: {error}") from None
    shown = sys.stdout.isatty() and args.json != "-"  # Dask's bar writes to standard output

    def run(paths: List[str], **options: Any) -> Any:
        options["progress"] = shown
        return getattr(on_dask, name)(paths, client=args.scheduler, **options)

    return run


# ---- the parser ----------------------------------------------------------------------------

def _build_parser() -> argparse.ArgumentParser:
    parser = _Parser(prog="qce", description="From a historian export to a verdict: the "
                     "readiness court, the export profile and the unit courts.",
                     epilog="Exit codes: 0 fit for use, 1 not (or hazards), 2 usage or input "
                     "error.")
    parser.add_argument("--version", action="version", version=f"qce {__version__}")
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", parser_class=_Parser)

    readiness = commands.add_parser(
        "readiness", help="profile an export and grade it",
        description="Profile a historian export and grade it with the readiness court. Exit "
        "code 0 for Ready and ReadyWithCaveats (1 for caveats under --strict), 1 for "
        "NotReadyMissingCriticalWitnesses, 2 for a usage error or an unreadable input.")
    _export_arguments(readiness)
    window = readiness.add_mutually_exclusive_group()
    window.add_argument("--baseline", metavar="START..END|auto",
                        help="a normal-operation window (ISO 8601 times); present when it "
                        "holds at least 100 rows; 'auto': the window found in the export")
    window.add_argument("--baseline-present", action="store_true",
                        help="declare that a baseline window exists")
    readiness.add_argument("--license-cleared", action="store_true",
                           help="declare that the data is the operator's to analyse")
    readiness.add_argument("--has-maintenance", action="store_true",
                           help="declare a maintenance log")
    readiness.add_argument("--has-batches", action="store_true",
                           help="declare batch genealogy")
    readiness.add_argument("--has-lab-samples", action="store_true",
                           help="declare lab samples")
    readiness.add_argument("--strict", action="store_true",
                           help="exit 1 on caveats too")
    _output_arguments(readiness)
    readiness.set_defaults(run=_readiness)

    profile = commands.add_parser(
        "profile", help="profile an export",
        description="Profile a historian export: the thirteen readiness values with their "
        "provenance, how the export was read, the per-tag table, notes and seals. Exit code 0, "
        "or 2 for a usage error or an unreadable input.")
    _export_arguments(profile)
    _output_arguments(profile)
    profile.set_defaults(run=_profile)

    units = commands.add_parser(
        "units", help="check unit pairs with a unit court",
        description="Judge unit pairs with the unit court: qce units A B, qce units --pairs "
        "FILE (CSV: a_unit,b_unit[,context,a_name,b_name,relation] with a header, or two "
        "columns without), or qce units --tags EXPORT --model FILE (each tag's unit in the "
        "export against the model's, a CSV of tag,unit as a tag list). Exit code 0 when every "
        "pair is consistent, 1 on any hazard, 2 for a usage error or an unreadable input.")
    units.add_argument("units", nargs="*", metavar="UNIT", help="two unit texts, A and B")
    units.add_argument("--pairs", metavar="FILE", help="a CSV of unit pairs ('-' for stdin)")
    units.add_argument("--court", choices=sorted(COURTS), default="v2", metavar="COURT",
                       help="the unit court that judges: " + _choices(sorted(COURTS), "v2"))
    units.add_argument("--relation", choices=RELATIONS, default=RELATIONS[0], metavar="RELATION",
                       help="how the two units of a pair meet: "
                       + _choices(RELATIONS, RELATIONS[0]))
    units.add_argument("--tags", nargs="+", metavar="EXPORT",
                       help="check the units of this export's tags (one file or several in "
                       "order) against --model")
    units.add_argument("--model", metavar="FILE",
                       help="CSV of tag,unit: the units a model expects (read as a tag list)")
    _reading_arguments(units.add_argument_group("reading the export of --tags"))
    _output_arguments(units)
    units.set_defaults(run=_units)
    for command in (readiness, profile, units):
        _readable(command)
    return parser


def _readable(parser: argparse.ArgumentParser) -> None:
    """Every option with choices shows a name, not `{a,b,c}`, in the usage line, and its help
    names each choice (and the default, where there is one) in words."""
    for action in parser._actions:
        if not action.choices or not action.option_strings:
            continue
        if action.metavar is None:
            action.metavar = action.dest.upper()
        choices = [str(c) for c in action.choices]
        said = action.help or ""
        if not all(_names_choice(said, c) for c in choices):
            default = action.default if isinstance(action.default, str) else None
            action.help = (said + "; " if said else "") + _choices(choices, default)


def _names_choice(text: str, choice: str) -> bool:
    shown = repr(choice) if len(choice) == 1 and not choice.isalnum() else choice
    return re.search(rf"(^|[\s,(]){re.escape(shown)}($|[\s,);:])", text) is not None


def _choices(choices: Sequence[str], default: Optional[str] = None, said: str = "") -> str:
    """'one of a, b or c (default: a, said)': the choices as a person reads them, a one-letter
    choice (a delimiter, a decimal mark) quoted so that it stands out from the commas."""
    shown = [repr(c) if len(c) == 1 and not c.isalnum() else c for c in choices]
    text = "one of " + (", ".join(shown[:-1]) + " or " + shown[-1] if len(shown) > 1
                        else shown[0])
    if default is not None:
        text += f" (default: {repr(default) if len(default) == 1 else default}"
        text += f", {said})" if said else ")"
    elif said:
        text += f" (default: {said})"
    return text


def _export_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("export", nargs="+", metavar="EXPORT",
                        help="the export: one file or several in order (CSV, .csv.gz, Parquet)")
    _reading_arguments(parser)


def _reading_arguments(parser: Any) -> None:
    """How an export is read: the options of profile_export."""
    parser.add_argument("--tag-list", metavar="FILE",
                        help="CSV of tag,unit; its units win over the export's")
    parser.add_argument("--tz", default="UTC", metavar="ZONE",
                        help="IANA zone of naive timestamps, e.g. Europe/Berlin (default: UTC)")
    parser.add_argument("--layout", choices=_names.LAYOUTS, default=_names.LAYOUTS[0],
                        metavar="LAYOUT",
                        help="how the rows hold the samples: "
                        + _choices(_names.LAYOUTS, _names.LAYOUTS[0], "decided from the file")
                        + "; paired: each tag's own time column beside its value column")
    delimiters = tuple(_TAB if d == "\t" else d for d in _names.DELIMITERS)
    parser.add_argument("--delimiter", default=None, choices=delimiters, metavar="CHAR",
                        help="the cell separator: "
                        + _choices(delimiters, None, "sniffed from the header"))
    parser.add_argument("--decimal", choices=_names.DECIMALS, default=_names.DECIMALS[0],
                        metavar="CHAR",
                        help="the decimal mark of numbers: "
                        + _choices(_names.DECIMALS, _names.DECIMALS[0]))
    order = parser.add_mutually_exclusive_group()
    order.add_argument("--day-first", dest="day_first", action="store_const", const=True,
                       default=None, help="read slash dates as DD/MM/YYYY; by default the order "
                       "is decided from the dates, and an export they cannot settle is refused")
    order.add_argument("--month-first", dest="day_first", action="store_const", const=False,
                       help="read slash dates as MM/DD/YYYY")
    parser.add_argument("--timestamp-format", default=None, choices=_names.TIMESTAMP_FORMATS,
                        metavar="FORMAT",
                        help="how the time column is written: "
                        + _choices(_names.TIMESTAMP_FORMATS, _names.TIMESTAMP_FORMATS[0],
                                   "decided from the values"))
    parser.add_argument("--timestamp-columns", default=None, metavar="NAME[,NAME]",
                        type=lambda text: [part.strip() for part in text.split(",")],
                        help="the time column, or a date and a time (or a time and its "
                        "milliseconds) column, by header name; default: found from the data")
    parser.add_argument("--missing-value", action="append", default=[], metavar="NUMBER",
                        help="a sentinel number meaning missing (repeatable; default: none)")
    parser.add_argument("--good-quality", action="append", default=None, metavar="TEXT",
                        help="a quality text meaning good (repeatable; replaces the default "
                        "list of good texts)")
    parser.add_argument("--quality-convention", choices=_names.QUALITY_CONVENTIONS,
                        default=_names.QUALITY_CONVENTIONS[0], metavar="CONVENTION",
                        help="how quality codes read: opc_da (code & 0xC0: 192 good, 64 "
                             "uncertain), opc_hda (the low 16 bits as opc_da), opc_ua (a "
                             "StatusCode: 0 good), zero_good (0 good, as a SQL history view's "
                             "Quality), text (Good/Uncertain/Bad); default auto: decided per "
                             "file from the quality column's name and values")
    parser.add_argument("--threads", type=int, default=None, metavar="N",
                        help="threads to scan with (default: every core)")
    parser.add_argument("--accept-multiline-fields", action="store_true",
                        help="read quoted fields whose lines read as rows as cells; by default "
                             "such an export (a stray quote reads so) is refused")
    parser.add_argument("--accept-unparsed-rows", action="store_true",
                        help="profile an export although more than 5%% of its data rows have no "
                             "timestamp that parses; by default such an export is refused")
    parser.add_argument("--no-health", action="store_true",
                        help="leave out each tag's signal health (statistics, frozen runs, "
                             "interpolated samples, impossible values): the scan is faster and "
                             "the seal is as without it")
    parser.add_argument("--header-line", type=int, default=None, metavar="N",
                        help="the header's line (1-based); by default found under any title "
                             "block, and named here when two lines could each be it")
    parser.add_argument("--encoding", default=None,
                        choices=_names.ENCODINGS + tuple(ENCODING_ALIASES),
                        help="how the export's bytes are read; by default UTF-16 when the file "
                             "starts with its byte-order mark, else UTF-8 with any text that is "
                             "not valid UTF-8 read as Windows-1252")
    parser.add_argument("--context", action="extend", nargs="+", default=None,
                        metavar="[KIND=]FILE",
                        help="context files read against the export: a lab sample export, work "
                             "orders, a batch event journal, each recognised by its columns or "
                             "named as lab=, maintenance= or batches=")
    parser.add_argument("--scheduler", metavar="ADDRESS", default=None,
                        help="run on the Dask scheduler at ADDRESS (needs the dask extra); "
                        "default: this machine's cores")


def _output_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--json", metavar="FILE",
                        help="write JSON to FILE ('-': to standard output, instead of the text)")
    parser.add_argument("--html", metavar="FILE", help="write the HTML report to FILE")


if __name__ == "__main__":
    sys.exit(main())
