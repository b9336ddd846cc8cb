"""Signal health through the Python API and qce: each tag's statistics and flags under their
contract names, the three notes, null where no value, and nothing of it with health off."""
import json
import subprocess
import sys

import pytest

import qorv_chemical_engineering_edge as edge


def _minute(i):
    return f"2026-01-01 {i // 60:02d}:{i % 60:02d}:00"


# 180 rows a minute apart: F held at 12.5 for 150 minutes, R a straight ramp, K below absolute
# zero twice, Z constant, T a text tag.
WIDE = "Time,F,R,K,Z,T\nunits,m,m,K,wt%,\n" + "".join(
    f"{_minute(i)},{12.5 if 10 <= i < 161 else i * i % 7 + 0.25},{0.5 * i},"
    f"{-2 if i in (4, 9) else 300 + i % 3},5,{'on' if i % 2 else 'off'}\n" for i in range(180))

# A tag stored by exception (uneven instants over a decade of steps) and one on a grid whose %
# values pass 100 once, as long records.
LONG = "Tag,Time,Value,Unit\n" + "".join(
    f"A,{_minute(i)},{v},bar\n" for i, v in zip((0, 1, 2, 40, 41, 100, 170, 171),
                                                 (0.5, 3.5, 1.5, 2.25, 0.75, 3.25, 1.0, 2.75))) + "".join(
    f"B,{_minute(i)},{101 if i == 3 else 40 + (7 * i) % 11},wt%\n" for i in range(30))

CASES = [
    ("wide", WIDE,
     {"frozen_tags": ["F"], "interpolated_tags": ["R"], "impossible_value_tags": ["K"]},
     {"F": {"frozen_longest_seconds": 9000.0, "frozen_longest_samples": 151, "constant": False,
            "modal_step_seconds": 60.0, "numeric_samples": 180},
      "R": {"interpolated_share": 1.0, "interpolated_judged": 178, "min": 0.0, "max": 89.5,
            "mean": 44.75, "first_value": 0.0, "last_value": 89.5},
      "K": {"impossible_values": 2, "value_limits": "absolute temperature", "min": -2.0},
      "Z": {"constant": True, "std": 0.0, "frozen_share": 1.0, "impossible_values": 0},
      "T": {"numeric_samples": 0, "mean": None, "std": None, "modal_step_seconds": None}}),
    ("long", LONG,
     {"frozen_tags": [], "interpolated_tags": ["A"], "impossible_value_tags": ["B"]},
     {"A": {"compressed": True, "modal_step_seconds": 60.0, "interpolated_share": 0.0},
      "B": {"compressed": False, "impossible_values": 1, "value_limits": "fraction"}}),
]


# Each case's findings: level, tag and the words that open what it means.
FINDINGS = {
    "wide": [("error", "K", "2 value(s) its unit (K, absolute temperature) rules out"),
             ("warning", "F", "frozen: 83.8% of its span in runs of 2 h and 50 samples"),
             ("warning", "R", "interpolated: 100% of 178 samples on their neighbours' line")],
    "long": [("error", "B", "1 value(s) its unit (wt%, fraction) rules out"),
             ("warning", "A", "compressed: stored by exception, so its gaps are no missing")],
}


@pytest.mark.parametrize("name, text, notes, fields", CASES, ids=[c[0] for c in CASES])
def test_health_fields_and_notes_by_their_names(tmp_path, name, text, notes, fields):
    path = tmp_path / f"{name}.csv"
    path.write_text(text)
    profile = edge.profile_export(str(path))
    data = json.loads(profile.to_json())
    assert {k: data["notes"][k] for k in notes} == notes
    tags = {t["name"]: t for t in data["tags"]}
    for tag, expected in fields.items():
        assert {k: tags[tag][k] for k in expected} == expected, tag
    found = profile.health_findings()
    assert [(level, tag) for level, tag, _ in found] == [f[:2] for f in FINDINGS[name]]
    assert all(words.startswith(f[2]) for (_, _, words), f in zip(found, FINDINGS[name]))
    assert edge.profile_export(str(path), health=False).health_findings() == []
    # Off: no value, no note, and a seal of its own; on again, the same seal.
    off = edge.profile_export(str(path), health=False)
    assert off.seal != profile.seal
    assert edge.profile_export(str(path)).seal == profile.seal
    quiet = off.to_dict()
    assert all(t["mean"] is None and t["numeric_samples"] == 0 for t in quiet["tags"])
    assert quiet["notes"]["frozen_tags"] == quiet["notes"]["interpolated_tags"] == []
    assert "health" not in quiet["options"]


def test_qce_prints_the_health_summary_unless_turned_off(tmp_path):
    (tmp_path / "wide.csv").write_text(WIDE)
    qce = [sys.executable, "-m", "qorv_chemical_engineering_edge"]
    runs = {flag: subprocess.run([*qce, "profile", "wide.csv", *flag], capture_output=True,
                                 text=True, timeout=120, cwd=tmp_path)
            for flag in ((), ("--no-health",))}
    assert runs[()].returncode == runs[("--no-health",)].returncode == 0
    assert ("signal health: 4 tag(s) with numbers; 1 constant, 1 frozen, 1 interpolated or "
            "compressed, 1 with impossible values") in " ".join(runs[()].stdout.split())
    assert "signal health" not in runs[("--no-health",)].stdout
    # Each finding under the line, saying what it means.
    said = " ".join(runs[()].stdout.split())
    assert "error K 2 value(s) its unit (K, absolute temperature) rules out" in said
    assert "present, but not measured" in said
