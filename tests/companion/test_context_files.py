"""Context files read against an export: lab samples, work orders and batch journals in the
shapes their systems export, checked against fields counted by hand."""
import datetime as dt
import gzip
import json
import subprocess
import sys

import pytest

import qorv_chemical_engineering_edge as edge

T0 = dt.datetime(2026, 3, 1)  # the export: 2026-03-01 00:00 to 2026-03-02 00:00, every 10 min


def at(hours):
    return (T0 + dt.timedelta(hours=hours)).strftime("%Y-%m-%d %H:%M")


def us(hours):
    return int((T0 + dt.timedelta(hours=hours) - dt.datetime(1970, 1, 1)).total_seconds()) * 10**6


@pytest.fixture
def export(tmp_path):
    path = tmp_path / "export.csv"
    rows = [f"{T0 + dt.timedelta(minutes=10 * i):%Y-%m-%d %H:%M:%S},{50 + i % 3},50,{20 + i % 5}"
            for i in range(145)]
    path.write_text("\n".join(["Time,FIC101.PV,FIC101.SP,TI200", *rows]) + "\n")
    return str(path)


def lims():
    """Two analyses a sample: S01-S12 inside (S01 '<0.5', S02 'ND'), S13 days later, S14
    canceled, S15 still pending; a title block above the header."""
    lines = ["Sample Results Export", "Plant:,North", "",
             "Sample ID,Sample Point,Sampled Time,Analysis,Result,Units,Status"]
    for n in range(1, 16):
        when = at(n if n != 13 else 24 * 4 + 8)
        status = "CANCELED" if n == 14 else "Authorised"
        results = {1: ("<0.5", "12.1"), 2: ("ND", "3.4"), 15: ("Pending", "")}.get(n, ("1.5", "2"))
        for analysis, result in zip(("Water", "Iron"), results):
            lines.append(f"S{n:02d},TI200,{when},{analysis},{result},ppm,{status}")
    return "\n".join(lines) + "\n"


def lab_without_ids():
    """One row a sample: ten inside, one of them rejected, so nine valid (one short)."""
    rows = [f"{at(h)};TI200 outlet;Density;0.9{h};{'Rejected' if h == 4 else 'ok'}"
            for h in range(1, 11)]
    return "\n".join(["Sampled;Location;Test;Result;Flag", *rows]) + "\n"


def work_orders():
    """4711 on FIC101 spans the export's start; 4713 has no finish (runs to the log's end,
    2026-03-05 10:00); 4712 lies after the export."""
    return ("Order;Functional Location;Actual Start;Actual Finish;Order Type;Description\n"
            f"4711;FIC101;{at(-40)};{at(6)};Corrective;valve sticks\n"
            f"4712;P-300;{at(104)};{at(106)};Preventive;pump service\n"
            f"4713;TI200;{at(12)};;Calibration;transmitter\n")


def short_log():
    """Orders up to 05:00 on the export's first day: the log ends before the export does."""
    return ("Work Order,Equipment,Start,Finish,Type\n"
            f"9001,FIC101,{at(-200)},{at(-190)},Inspection\n"
            f"9002,FIC101,{at(2)},{at(5)},Corrective\n")


def batch_journal():
    """B1 closes inside (its phase Heat ends first); B2's only end is a phase's: open; B0 lies
    before the export."""
    rows = [("B0", "", "Batch Start", -30), ("B0", "", "Batch Complete", -25),
            ("B1", "", "Batch Start", 2), ("B1", "Heat", "Phase End", 3),
            ("B1", "", "BATCH_ENDED", 5), ("B2", "", "Start", 20),
            ("B2", "Heat", "Complete", 21)]
    return "Batch ID,Recipe,Unit,Phase,Event,Time\n" + "".join(
        f"{b},R-7,TI200,{p},{e},{at(h)}:00\n" for b, p, e, h in rows)


def lab_last_year():
    rows = [f"L{n},TI200,2025-03-01 {n:02d}:00,Water,1.{n},%,Complete" for n in range(12)]
    return "\n".join(["SampleNo,Point,Collected,Component,Result,UOM,Status", *rows]) + "\n"


CASES = [
    # name, text, kind given, field, derived value, expected evidence
    ("lims", lims(), None, "has_lab_samples", True,
     dict(kind="lab", records=30, inside=12, outside=1, censored=2, open=0,
          skipped=[("samples cancelled, rejected or void", 1), ("samples without a result", 1)],
          tags=["TI200"], first="2026-03-01T01:00:00Z", last="2026-03-05T08:00:00Z")),
    ("lims.csv.gz", lims(), "lab", "has_lab_samples", True,
     dict(kind="lab", inside=12, outside=1, censored=2)),
    ("no ids", lab_without_ids(), None, "has_lab_samples", False,
     dict(kind="lab", records=10, inside=9, outside=0, censored=0,
          skipped=[("samples cancelled, rejected or void", 1)], tags=["TI200"])),
    ("work orders", work_orders(), None, "has_maintenance", True,
     dict(kind="maintenance", records=3, inside=2, outside=1, tags=["FIC101.PV", "FIC101.SP",
                                                                     "TI200"],
          first="2026-02-27T08:00:00Z", last="2026-03-05T10:00:00Z", skipped=[],
          breaks=[(us(-40), us(6)), (us(12), us(106)), (us(104), us(106))])),
    ("short log", short_log(), None, "has_maintenance", False,
     dict(kind="maintenance", inside=1, outside=1, last="2026-03-01T05:00:00Z")),
    ("batches", batch_journal(), None, "has_batches", True,
     dict(kind="batches", records=7, inside=1, outside=1, open=1, tags=["TI200"],
          breaks=[(us(-30), us(-30)), (us(-25), us(-25)), (us(2), us(2)), (us(5), us(5)),
                  (us(20), us(20))])),
    ("last year", lab_last_year(), None, "has_lab_samples", False,
     dict(kind="lab", inside=0, outside=12, first="2025-03-01T00:00:00Z")),
]


def write(tmp_path, name, text):
    path = tmp_path / (name.replace(" ", "_") + ("" if name.endswith(".gz") else ".csv"))
    if name.endswith(".gz"):
        path.write_bytes(gzip.compress(text.encode()))
    else:
        path.write_text(text)
    return str(path)


@pytest.mark.parametrize("name, text, kind, field, derived, expected", CASES,
                         ids=[c[0] for c in CASES])
def test_context_file_against_the_export(tmp_path, export, name, text, kind, field, derived,
                                         expected):
    path = write(tmp_path, name, text)
    profile = edge.profile_export(export, context={kind: path} if kind else path)
    assert (profile.values[field].value, profile.values[field].provenance) == (derived, "derived")
    (source,) = profile.context
    seen = {k: getattr(source, k) for k in expected if k not in ("breaks", "skipped", "tags")}
    seen.update(skipped=list(source.skipped), tags=list(source.tags),
                breaks=list(source.breaks_us))
    assert {k: seen[k] for k in expected} == expected
    # The other context fields stay as the export alone leaves them.
    for other in {"has_lab_samples", "has_maintenance", "has_batches"} - {field}:
        assert profile.values[other].provenance == "default"
    assert profile.to_dict()["context"][0]["digest"] == source.digest


def test_span_notes_say_why_a_file_does_not_witness(tmp_path, export):
    profile = edge.profile_export(export, context=[write(tmp_path, "old", lab_last_year()),
                                                   write(tmp_path, "log", short_log())])
    lab, log = profile.context
    assert list(lab.notes) == ["its times (2025-03-01T00:00:00Z to 2025-03-01T11:00:00Z) lie outside "
                         "the export's span (2026-03-01T00:00:00Z to 2026-03-02T00:00:00Z)"]
    assert "ends before the export's span" in log.notes[0]


def test_times_read_in_the_exports_zone_and_other_offsets_noted(tmp_path, export):
    # Naive times are wall times of the export's zone (Berlin: UTC+1 in March).
    berlin = edge.profile_export(export, tz="Europe/Berlin",
                                 context=write(tmp_path, "b", batch_journal()))
    assert berlin.context[0].first == "2026-02-27T17:00:00Z"
    offset = lims().replace(f"{at(3)},", f"{at(3)}:00+05:00,")
    source = edge.profile_export(export, context=write(tmp_path, "o", offset)).context[0]
    assert list(source.notes) == ["2 times written at UTC+05:00 (first: 2026-03-01 03:00:00+05:00), "
                            "where the export's zone UTC is at UTC+00:00: the file was kept "
                            "in another zone"]


def test_declared_value_wins_with_a_note(tmp_path, export):
    lab = write(tmp_path, "lab", lims())
    report = edge.grade_export(export, context=[lab], has_lab_samples=False,
                               license_cleared=True)
    value = report.profile.values["has_lab_samples"]
    assert (value.value, value.provenance) == (False, "declared")
    assert report.profile.context[0].notes[-1] == (
        "has_lab_samples is declared false; the context files derive true")


def test_the_seal_covers_each_context_file(tmp_path, export):
    lab = tmp_path / "lab.csv"
    lab.write_text(lims())
    alone = edge.profile_export(export)
    assert edge.profile_export(export, context=[]).seal == alone.seal
    with_lab = edge.profile_export(export, context=str(lab))
    lab.write_text(lims().replace("12.1", "12.2"))  # a result changed: no count changes
    changed = edge.profile_export(export, context=str(lab))
    assert len({alone.seal, with_lab.seal, changed.seal}) == 3
    assert with_lab.values == changed.values


@pytest.mark.parametrize("text, kind, words", [
    ("Name,Colour\nx,red\n", None,
     ["no header naming the columns of a lab sample export", "columns seen: Name, Colour"]),
    (work_orders(), "batches", ["no header naming the columns of a batches file",
                                "Order, Functional Location"]),
])
def test_unrecognisable_file_is_refused_naming_it(tmp_path, export, text, kind, words):
    path = write(tmp_path, "odd", text)
    with pytest.raises(ValueError) as caught:
        edge.profile_export(export, context={kind: path} if kind else path)
    assert str(caught.value).startswith(path + ": ")
    for w in words:
        assert w in str(caught.value)


@pytest.mark.parametrize("context, error, words", [
    ({"lims": "x.csv"}, ValueError, "kind 'lims'"),
    (3, TypeError, "option context"),
    ("/no/such/file.csv", FileNotFoundError, "/no/such/file.csv"),
])
def test_bad_context_option_names_it(export, context, error, words):
    with pytest.raises(error, match=words):
        edge.profile_export(export, context=context)


def test_qce_and_dask_read_context_like_profile_export(tmp_path, export):
    lab, wo = write(tmp_path, "lab", lims()), write(tmp_path, "wo", work_orders())
    local = edge.profile_export(export, context=[lab, wo])
    run = subprocess.run([sys.executable, "-m", "qorv_chemical_engineering_edge", "profile",
                          export, "--context", lab, f"maintenance={wo}", "--json", "-"],
                         capture_output=True, text=True, timeout=120)
    shown = json.loads(run.stdout)
    assert shown["seal"] == local.seal
    assert [c["kind"] for c in shown["context"]] == ["lab", "maintenance"]
    pytest.importorskip("dask")  # the library itself: the sanitizer stage runs without it
    distributed = pytest.importorskip("distributed")
    from qorv_chemical_engineering_edge import _native
    from qorv_chemical_engineering_edge import dask as on_dask
    assert on_dask.profile_files(export, context=[lab, wo]).seal == local.seal
    # A lab file of three 1 MiB pieces, a quoted line break over each cut, and a gzip journal:
    # on a cluster the workers read them, piece by piece; the client's own readers refuse.
    big = write(tmp_path, "big", lims() + "".join(
        f'S{n % 4000:04d},TI200,{at(1 + n % 20)},"Iron\nrun {n}",1.{n % 9},ppm,ok\n'
        for n in range(60000)))
    journal = write(tmp_path, "journal.gz", batch_journal())
    files = [big, wo, journal]
    local = edge.profile_export(export, context=files)
    assert local.context[0].records > 60000

    def refuse(*args, **kwargs):
        raise AssertionError("a context file was read on the client")

    with distributed.LocalCluster(n_workers=1, threads_per_worker=2, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster, set_as_default=False) as client:
        with pytest.MonkeyPatch.context() as patch:
            for name in ("finalize_partial", "scan_context_piece", "merge_context"):
                patch.setattr(_native, name, refuse, raising=False)
            remote = on_dask.profile_files(export, context=files, client=client,
                                           chunk_bytes=1 << 20)
    assert remote.seal == local.seal
    assert remote.context == local.context


def test_report_draws_the_context_over_the_time_axis(tmp_path, export):
    files = [write(tmp_path, n, t) for n, t in (("lab", lims()), ("wo", work_orders()),
                                                 ("batch", batch_journal()))]
    report = edge.grade_export(export, context=files, license_cleared=True)
    text = str(report)  # what qce readiness prints: the context files' evidence too
    assert all(path in text for path in files), text
    page = report.to_html()
    for path in files:
        assert f"<h2>Context: {path}</h2>" in page
    # Marks inside the chart's span: 12 samples (S13 lies days later), orders 4711 (clipped)
    # and 4713, B1's band and B2's open start (B0 ends before the export).
    assert page.count('class="context-mark"') == 12 + 2 + 2
    assert page.count("open (no end event)</title>") == 1
