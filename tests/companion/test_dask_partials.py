"""Partial profiles without a cluster: random splits and merge orders, refused blobs, quote
parity at cuts, and the optional extra."""
import hashlib
import random
import struct
import subprocess
import sys

import pytest

pytest.importorskip("dask")
hypothesis = pytest.importorskip("hypothesis")
from hypothesis import example, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

from qorv_chemical_engineering_edge import _native, _options, profile_export  # noqa: E402
from qorv_chemical_engineering_edge import dask as qd  # noqa: E402
from qorv_chemical_engineering_edge.profile import _PROFILE_OPTIONS, _from_native  # noqa: E402

from dask_exports import MIB, tricky_wide  # noqa: E402
from isolated import run_isolated  # noqa: E402

OPTIONS = _options.build(**{k: v for k, v in _PROFILE_OPTIONS.items() if k != "progress"})

# Quoted cells with delimiters, doubled quotes and line feeds, a unit change, a repeated
# instant and a step back, so random cuts land inside quotes and inside every kind of row.
TEXT = (
    "Timestamp,Flow,Note,Temp\nUnits,kg/h,,degC\n"
    + "".join(
        f"2026-01-01 00:{m // 60:02d}:{m % 60:02d},{m * 1.5:.1f},"
        + ('"a, ""b""\nc"' if m % 7 == 0 else "ok")
        + f",{20 + m % 5}\n"
        for m in range(120)
    )
    + "2026-01-01 00:01:59,1,\"x\n\",20\n2026-01-01 00:01:00,2,,21\n"
).encode()


def _scan(pieces):
    """Blobs of consecutive byte pieces of TEXT, each with its exact quote parity."""
    # A resumed piece reads the file's opening through its sample window, which here is all of it.
    opening, blobs, offset = TEXT, [], 0
    for piece in pieces:
        inside = TEXT[:offset].count(b'"') % 2 == 1
        blobs.append(_native.scan_text("t.csv", offset, opening, inside, OPTIONS, [piece]))
        offset += len(piece)
    return blobs


def _profile(blob):
    return _from_native(_native.finalize_partial(blob, OPTIONS), ("t.csv",), OPTIONS)


WHOLE = _profile(_scan([TEXT])[0])


@settings(max_examples=40, deadline=None)
@given(cuts=st.lists(st.integers(min_value=200, max_value=len(TEXT) - 1), max_size=8,
                     unique=True),
       order=st.randoms(use_true_random=False))
@example(cuts=[200, 262, 263], order=random.Random(0))
def test_any_split_and_merge_order_rejoins_the_whole(cuts, order):
    bounds = [0, *sorted(cuts), len(TEXT)]
    blobs = _scan([TEXT[a:b] for a, b in zip(bounds, bounds[1:])])
    in_order = _native.merge_partials(blobs)
    right_first = blobs[-1]
    for blob in reversed(blobs[:-1]):
        right_first = _native.merge_partials([blob, right_first])
    assert right_first == in_order
    # Neighbours merged in a random order: every tree shape, every finishing order.
    pending = list(blobs)
    while len(pending) > 1:
        i = order.randrange(len(pending) - 1)
        pending[i:i + 2] = [_native.merge_partials(pending[i:i + 2])]
    assert pending[0] == in_order
    merged = _profile(in_order)
    assert (merged.values, merged.tags) == (WHOLE.values, WHOLE.tags)
    # Cuts off the 1 MiB digest grid leave the digest incomplete, and say so.
    assert merged.notes.input_digest_complete == (not cuts)
    assert merged.notes.unit_disagreements == WHOLE.notes.unit_disagreements


def _flip(blob, at):
    return blob[:at] + bytes([blob[at] ^ 0x40]) + blob[at + 1:]


@pytest.mark.parametrize("mangle", [
    lambda b: b"",
    lambda b: b[:-1],
    lambda b: b + b"\0",
    lambda b: _flip(b, 3),  # the schema text
    lambda b: _flip(b, len("export_profile_partial")),  # the version
    lambda b: b"\x80\x04\x95" + b[3:],  # a pickle's opening
    lambda b: b[len(b) // 2:],
], ids=["empty", "truncated", "trailing", "schema", "version", "foreign", "half"])
def test_a_corrupt_or_foreign_partial_is_refused(mangle):
    good = _scan([TEXT])[0]
    bad = mangle(good)
    with pytest.raises(ValueError, match="partial profile 1 is not usable"):
        _native.merge_partials([good, bad])
    with pytest.raises(ValueError, match="partial profile 0 is not usable"):
        _native.finalize_partial(bad, OPTIONS)


# A stray quote that swallows rows: refused unless multi-line fields are accepted.
STRAY = ("Time,A\n2026-01-01 00:00:00,\"1\n"
         + "".join(f"2026-01-01 00:{m:02d}:00,{m}\n" for m in range(1, 30))).encode()


@pytest.mark.parametrize("scanned_accepting, finished_accepting, refused", [
    (True, False, False),
    (False, True, True),
    (True, True, False),
    (False, False, True),
], ids=["accepted_at_scan", "refused_at_scan", "accepted_both", "refused_both"])
def test_a_partial_is_finished_under_the_settings_it_was_scanned_with(
        scanned_accepting, finished_accepting, refused):
    def options(accept):
        return {**OPTIONS, "accept_multiline_fields": accept}

    blob = _native.scan_text("s.csv", 0, None, False, options(scanned_accepting), [STRAY])
    if refused:
        with pytest.raises(ValueError, match="accept_multiline_fields"):
            _native.finalize_partial(blob, options(finished_accepting))
    else:
        profile = _native.finalize_partial(blob, options(finished_accepting))
        assert profile["notes"]["multiline_fields"] == 1


def test_a_partial_of_another_version_is_refused_by_name():
    blob = _scan([TEXT])[0]
    older = blob[:HEAD - 16] + struct.pack("<Q", 2) + blob[HEAD - 8:]
    with pytest.raises(ValueError, match="version 2; this build reads version 8"):
        _native.finalize_partial(older, OPTIONS)


# A wide export a minute apart with one step back, which leaves a clock-change note.
WIDE = ("Time,FT1.PV,FT1.SP\n"
        + "".join(f"2026-03-01 00:{m:02d}:00,{m},{2 * m}\n" for m in range(10))
        + "2026-03-01 00:05:30,1,2\n").encode()
T0 = 1772323200 * 10**6  # 2026-03-01T00:00:00Z in microseconds
HEAD = len(b"export_profile_partial") + 16  # schema text, version, payload length


def _craft(edit):
    """WIDE's blob with `edit` applied to its payload, under a fresh digest: what a sender who
    knows the format can hand over."""
    blob = _native.scan_text("w.csv", 0, None, False, OPTIONS, [WIDE])
    payload = bytearray(blob[HEAD:-32])
    edit(payload)
    return (blob[:HEAD - 8] + struct.pack("<Q", len(payload)) + bytes(payload)
            + hashlib.sha256(payload).digest())


def _put(payload, old, new):
    at = payload.find(old)
    assert at >= 0 and payload.find(old, at + 1) < 0, "the field to edit is not unique"
    payload[at:at + len(new)] = new


def _row_run(start, step, count, claim=None):
    """Replaces the row axis's first run (the ten regular rows); `claim`: the bytes scanned."""
    def edit(payload):
        _put(payload, struct.pack("<qqQ", T0, 60 * 10**6, 10),
             struct.pack("<qqQ", start, step, count))
        if claim:
            _put(payload, struct.pack("<Q", len(WIDE)), struct.pack("<Q", claim))
    return edit


def _clock_on_tag(payload):
    """The clock note at the step back (its stream, then its instant): tag 0, not the rows."""
    at = T0 + 330 * 10**6
    _put(payload, struct.pack("<Qq", 0xFFFFFFFF, at), struct.pack("<Qq", 0, at))


@pytest.mark.parametrize("edit, call, reason", [
    (_clock_on_tag, "finalize",  # a segmentation fault
     "clock change 0 names a stream or line its file does not have"),
    (_row_run(T0, 0, 2**40, claim=2**50), "merge",  # endless: every repeat replayed
     "file 0 claims more bytes than it has block digests for"),
    (_row_run(T0, 0, 2**31, claim=2**50), "finalize",  # a 16 GiB allocation
     "file 0 claims more bytes than it has block digests for"),
    (_row_run(2**62, 2**62, 3), "finalize",  # instants past 64 bits: undefined, then a profile
     "the row axis run 0 leaves the range of instants"),
], ids=["wide_clock_note_on_a_tag", "zero_step_2_40", "instants_2_31", "instant_overflow"])
def test_a_crafted_partial_is_a_value_error(edit, call, reason):
    blob = _craft(edit)
    entry = ("_native.merge_partials([blob, blob])" if call == "merge"
             else "_native.finalize_partial(blob, OPTIONS)")
    done = run_isolated(f"""
        import os, resource
        # A runaway allocation fails the child, not the host (ASan's shadow memory needs the room).
        if "asan" not in os.environ.get("LD_PRELOAD", ""):
            resource.setrlimit(resource.RLIMIT_AS, (4 << 30, 4 << 30))
        from qorv_chemical_engineering_edge import _native
        blob, OPTIONS = {blob!r}, {OPTIONS!r}
        try:
            {entry}
        except Exception as e:
            print(type(e).__name__, e)
        """, timeout=30)
    assert done.returncode == 0, done.stderr[-2000:]
    assert done.stdout.startswith("ValueError partial profile "), done.stdout
    assert f"corrupt partial profile: {reason}" in done.stdout


def test_quoted_line_feeds_across_cuts_on_local_threads(tmp_path):
    paths = tricky_wide(tmp_path)
    data = open(paths[0], "rb").read()
    # The row-start guess is wrong at this cut (a quoted line feed straddles it) ...
    pieces = _native.plan_file(paths[0], OPTIONS, MIB)[0]
    _, guessed, _ = _native.scan_piece(pieces[1], OPTIONS)
    assert pieces[1]["start"] == MIB
    assert guessed != (data[:MIB].count(b'"') % 2 == 1)
    # ... and the settled scan still rebuilds the one-process profile exactly.
    assert qd.profile_files(paths, chunk_bytes=MIB, split_every=2) == profile_export(paths)


def test_the_package_imports_without_dask_and_the_module_names_the_extra():
    code = (
        "import sys; sys.modules['dask'] = None\n"
        "import qorv_chemical_engineering_edge\n"
        "try:\n"
        "    import qorv_chemical_engineering_edge.dask\n"
        "except ImportError as e:\n"
        "    print(e)\n"
    )
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert "pip install 'qorv-chemical-engineering[dask]'" in out.stdout
