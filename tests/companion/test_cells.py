"""Cells as plants write them: quality codes under each common convention, numbers as
spreadsheets write them, censored laboratory values, system states, and control loops however
their members are spelled. Every expected count is worked out by hand from the rows shown."""
import json
import subprocess
import sys

import pytest

import qorv_chemical_engineering_edge as edge


def profile(tmp_path, text, **options):
    path = tmp_path / "export.csv"
    path.write_bytes(text.replace("\n", "\r\n").encode())
    return edge.profile_export(str(path), **options)


def counts(p):
    """Per tag: (present, missing_quality, uncertain)."""
    return {t.name: (t.present, t.missing_quality, t.uncertain) for t in p.tags}


# One table of quality conventions: an export in the shape its tool writes, the options, per
# tag (present, missing for quality, uncertain), and the convention the file states it was read
# with and how that was decided.
QUALITY = [
    # A SQL history view: Quality 0 is good beside the OPC quality (QualityDetail 192); 1 bad.
    ("sql_history_view_zero_good",
     "DateTime,TagName,Value,vValue,Quality,QualityDetail,OPCQuality\n"
     "2026-03-02 08:00:00.000,FIC101.PV,12.5,12.5,0,192,192\n"
     "2026-03-02 08:01:00.000,FIC101.PV,12.7,12.7,0,192,192\n"
     "2026-03-02 08:02:00.000,FIC101.PV,,,1,8,8\n"
     "2026-03-02 08:03:00.000,FIC101.PV,12.9,12.9,0,192,192\n",
     {}, {"FIC101.PV": (3, 0, 0)}, ("zero_good", "detected")),  # the empty value is missing as empty, not for quality
    # An OPC DA client's 8-bit codes: 192 and 216 (good, local override) good, 84 uncertain,
    # 24 (bad, configuration error) bad.
    ("opc_da_8_bit",
     "TagName,Timestamp,Value,Quality\n"
     "TI200,2026-03-02 08:00:00,81.2,192\n"
     "TI200,2026-03-02 08:01:00,81.3,216\n"
     "TI200,2026-03-02 08:02:00,81.1,84\n"
     "TI200,2026-03-02 08:03:00,81.0,24\n",
     {}, {"TI200": (3, 1, 1)}, ("opc_da", "detected")),
    # The same codes as a dataframe's float column writes them.
    ("opc_da_written_as_floats",
     "Name,Timestamp,Value,Quality\n"
     "PI300,2026-03-02T08:00:00Z,4.25,192.0\n"
     "PI300,2026-03-02T08:01:00Z,4.26,64.0\n"
     "PI300,2026-03-02T08:02:00Z,4.27,8.0\n",
     {}, {"PI300": (2, 1, 1)}, ("opc_da", "detected")),
    # An OPC HDA server's 32-bit quality in hex: raw (0x0004....) or interpolated (0x0002....)
    # above the DA quality in the low word.
    ("opc_hda_32_bit_hex",
     "TagName,Timestamp,Value,Quality\n"
     "LI400,2026-03-02 08:00:00,55.0,0x000400C0\n"
     "LI400,2026-03-02 08:01:00,55.1,0x00020040\n"
     "LI400,2026-03-02 08:02:00,55.2,0x00040000\n"
     "LI400,2026-03-02 08:03:00,55.3,0x000400D8\n",
     {}, {"LI400": (3, 1, 1)}, ("opc_hda", "detected")),
    # An OPC UA client's StatusCode: 0 good, 0x40000000 uncertain, 0x80000000 bad, written as
    # unsigned and as signed 32-bit integers.
    ("opc_ua_status_code",
     "Name,Timestamp,Value,StatusCode\n"
     "FI500,2026-03-02T08:00:00Z,3.5,0\n"
     "FI500,2026-03-02T08:01:00Z,3.6,1083310080\n"
     "FI500,2026-03-02T08:02:00Z,3.7,2147483648\n"
     "FI500,2026-03-02T08:03:00Z,3.8,-2139881472\n"
     "FI500,2026-03-02T08:04:00Z,3.9,0\n",
     {}, {"FI500": (3, 2, 1)}, ("opc_ua", "detected")),
    # Text qualities and their abbreviations, in a wide sheet with a quality column per tag.
    ("text_qualities_wide",
     "Time,TIC1.PV,TIC1.PV Quality,TIC2.PV,TIC2.PV Quality\n"
     "2026-03-02 08:00,1.0,Good,2.0,G\n"
     "2026-03-02 08:01,1.1,Uncertain,2.1,U\n"
     "2026-03-02 08:02,1.2,Bad,2.2,B\n"
     "2026-03-02 08:03,1.3,Uncertain (Sub-Normal),2.3,Unc\n",
     {}, {"TIC1.PV": (3, 1, 2), "TIC2.PV": (3, 1, 2)}, ("text", "detected")),
    # Qualities as older exports wrote them read as they always did: Good, ok, g, 192 and empty
    # good; anything else bad.
    ("old_mixed_texts_and_192",
     "Time,A,A Quality\n"
     "2026-03-02 08:00,1,Good\n2026-03-02 08:01,2,192\n2026-03-02 08:02,3,\n"
     "2026-03-02 08:03,4,ok\n2026-03-02 08:04,5,Bad\n2026-03-02 08:05,6,0\n",
     {}, {"A": (4, 2, 0)}, ("text", "detected")),
    # A declared good list replaces any convention: here 0 is good, 192 is not.
    ("declared_good_list",
     "TagName,Timestamp,Value,Quality\n"
     "X1,2026-03-02 08:00:00,1,0\nX1,2026-03-02 08:01:00,2,192\nX1,2026-03-02 08:02:00,3,0\n",
     {"good_quality": ["0"]}, {"X1": (2, 1, 0)}, ("good_quality", "given")),
    # A given convention settles what the column's values alone cannot: 0 bad as an OPC code.
    ("given_opc_da_settles_zero",
     "TagName,Timestamp,Value,Quality\n"
     "X2,2026-03-02 08:00:00,1,0\nX2,2026-03-02 08:01:00,2,192\nX2,2026-03-02 08:02:00,3,64\n",
     {"quality_convention": "opc_da"}, {"X2": (2, 1, 1)}, ("opc_da", "given")),
    ("given_zero_good",
     "TagName,Timestamp,Value,Quality\n"
     "X3,2026-03-02 08:00:00,1,0\nX3,2026-03-02 08:01:00,2,192\nX3,2026-03-02 08:02:00,3,0\n",
     {"quality_convention": "zero_good"}, {"X3": (2, 1, 0)}, ("zero_good", "given")),
]


@pytest.mark.parametrize("name, text, options, expected, stated", QUALITY,
                         ids=[q[0] for q in QUALITY])
def test_quality_conventions(tmp_path, name, text, options, expected, stated):
    p = profile(tmp_path, text, **options)
    assert counts(p) == expected
    assert p.notes.uncertain_samples == sum(u for _, _, u in expected.values())
    facts = {f.name: (f.value, f.how) for f in p.files[0].reading}
    assert facts["quality_convention"] == stated


def test_a_file_without_quality_states_no_convention(tmp_path):
    p = profile(tmp_path, "Time,A\n2026-03-02 08:00,1\n")
    assert "quality_convention" not in {f.name for f in p.files[0].reading}


# Where the column's name and values do not tell the convention, the file is refused and the
# message names the option that settles it.
REFUSED = [
    ("quality_0_and_192_no_sibling",
     "TagName,Timestamp,Value,Quality\n"
     "A,2026-03-02 08:00:00,1,192\nA,2026-03-02 08:01:00,2,0\nA,2026-03-02 08:02:00,3,192\n",
     "both 0 and 192"),
    ("quality_only_zeros",
     "TagName,Timestamp,Value,Quality\n"
     "A,2026-03-02 08:00:00,1,0\nA,2026-03-02 08:01:00,2,0\n",
     "holds 0 and no good"),
    ("status_code_holding_8_bit_codes",
     "Name,Timestamp,Value,StatusCode\n"
     "A,2026-03-02 08:00:00,1,192\nA,2026-03-02 08:01:00,2,192\n",
     "named as a StatusCode it holds 8-bit"),
    ("wide_codes_without_da_or_severity",
     "TagName,Timestamp,Value,Quality\n"
     "A,2026-03-02 08:00:00,1,0x00040000\nA,2026-03-02 08:01:00,2,0x00020000\n",
     "carry no 8-bit OPC quality"),
]


@pytest.mark.parametrize("name, text, seen", REFUSED, ids=[r[0] for r in REFUSED])
def test_contradicting_quality_is_refused(tmp_path, name, text, seen):
    with pytest.raises(ValueError, match="quality_convention") as caught:
        profile(tmp_path, text)
    assert seen in str(caught.value)
    assert "export.csv" in str(caught.value)


def test_an_unknown_quality_convention_is_refused_by_name(tmp_path):
    with pytest.raises(ValueError, match="quality_convention"):
        profile(tmp_path, "Time,A\n2026-03-02 08:00,1\n", quality_convention="opc")


# One table of number spellings: the cell as the file holds it, the delimiter and decimal, and
# what it counts as. Each export holds the spelling and a plain 1 under one tag, so a spelling
# read as a number gives 2 present samples and one read as text gives 1 (and 1 missing text).
NUMBER, CENSORED, TEXT = "number", "censored", "text"
SPELLINGS = [
    ('"1,234.5"', ",", ".", NUMBER),
    ("1,234.5", ";", ".", NUMBER),
    ("-12,345,678", ";", ".", NUMBER),
    ("1.234,5", ";", ",", NUMBER),
    ("1.234.567,89", ";", ",", NUMBER),
    ("1.234", ";", ",", NUMBER),  # with decimal ',' the point can only group thousands
    ("1,23.5", ";", ".", TEXT),  # a group of two digits
    ("1,2345", ";", ".", TEXT),
    ("0,123", ";", ".", TEXT),  # a lone 0 before the group reads as a decimal comma
    ("1234,567.5", ";", ".", TEXT),  # four digits before the first group
    ("1,234.5", ";", ",", TEXT),  # the wrong way round for decimal ','
    ('="12.5"', ",", ".", NUMBER),  # text-protected, written bare
    ('"=""12.5"""', ",", ".", NUMBER),  # text-protected, quoted as a field
    ('="OPEN"', ",", ".", TEXT),
    ("+12.5", ",", ".", NUMBER),
    ("   12.5   ", ",", ".", NUMBER),
    ("<0.5", ",", ".", CENSORED),
    ("< 0,5", ";", ",", CENSORED),
    (">100", ",", ".", CENSORED),
    ("<=0.05", ",", ".", CENSORED),
    (">1,000", ";", ".", CENSORED),
    ("ND", ",", ".", CENSORED),
    ("n.d.", ",", ".", CENSORED),
    ("<LOD", ",", ".", CENSORED),
    ("<loq", ",", ".", CENSORED),
    ("BDL", ",", ".", CENSORED),
    ("<abc", ",", ".", TEXT),
    ("ND5", ",", ".", TEXT),
]


@pytest.mark.parametrize("cell, delimiter, decimal, kind", SPELLINGS)
def test_number_spellings(tmp_path, cell, delimiter, decimal, kind):
    one = "1"
    text = (f"Time{delimiter}LAB1\n2026-03-02 08:00{delimiter}{cell}\n"
            f"2026-03-02 09:00{delimiter}{one}\n")
    p = profile(tmp_path, text, decimal=decimal)
    (tag,) = p.tags
    assert tag.numeric
    assert (tag.present, tag.missing_text, tag.censored) == {
        NUMBER: (2, 0, 0), CENSORED: (2, 0, 1), TEXT: (1, 1, 0)}[kind]
    assert p.notes.censored_samples == tag.censored


def test_a_tag_of_censored_values_only_is_numeric(tmp_path):
    p = profile(tmp_path, "Time,LAB2\n2026-03-02 08:00,<0.1\n2026-03-02 09:00,ND\n"
                          "2026-03-02 10:00,OPEN\n")
    (tag,) = p.tags
    # Numeric, so the stray text is missing; the censored values are present.
    assert (tag.numeric, tag.present, tag.censored, tag.missing_text) == (True, 2, 2, 1)


def test_a_grouped_sentinel_is_a_sentinel(tmp_path):
    p = profile(tmp_path, "Time;A\n2026-03-02 08:00;-9,999\n2026-03-02 09:00;1\n",
                missing_values=[-9999])
    assert (p.tags[0].present, p.tags[0].missing_sentinel) == (1, 1)


# System states historians write in place of a value: missing in a state tag, not states. Real
# states (Manual, Trace) stay states.
STATES = ["Arc Off-line", "Equip Fail", "Unit Down", "DCS Failed", "Bad Output", "Failed",
          "Calc Off", "Access Denied", "No Result", "Sample Bad", "No Lab Data", "Wrong Type",
          "Overflow_st", "Set to Bad", "Invalid Data", "Not Connect", "Doubtful", "SCAN OFF"]


def test_system_states_are_missing_in_a_state_tag(tmp_path):
    rows = ["OPEN", "CLOSED", "Manual", "Trace"] + STATES
    text = "Time,XV100\n" + "".join(
        f"2026-03-02 08:{i:02d},{s}\n" for i, s in enumerate(rows))
    p = profile(tmp_path, text)
    (tag,) = p.tags
    assert (tag.numeric, tag.present, tag.missing_bad_state) == (False, 4, len(STATES))
    assert {t for t, _ in p.notes.other_texts} == {"OPEN", "CLOSED", "Manual", "Trace"}


# One table of loop spellings: the tags of a wide export and the loops found (base, suffixes).
LOOPS = [
    (["FIC101.PV", "FIC101.SP", "FIC101.OP"], [("FIC101", ["OP", "PV", "SP"])]),
    (["FIC101 pv", "FIC101 sp"], [("FIC101", ["PV", "SP"])]),
    (["FIC1601/PID1/PV.CV", "FIC1601/PID1/SP.CV", "FIC1601/PID1/OUT.CV"],
     [("FIC1601/PID1", ["OUT", "PV", "SP"])]),
    (["TIC7.PV.Value", "TIC7.SP.Value"], [("TIC7", ["PV", "SP"])]),
    (["fic200.pv", "FIC200.SP"], [("FIC200", ["PV", "SP"])]),  # bases in any case
    (["PIC3_PV", "PIC3:Mode"], [("PIC3", ["MODE", "PV"])]),
    (["LIC5.CV", "LIC5.PV"], []),  # a field with no parameter before it is no member
    (["TI101 temp", "TI101 pv"], []),
    (["A/PV.CV", "B/SP.CV"], []),
]


@pytest.mark.parametrize("tags, loops", LOOPS)
def test_loop_spellings(tmp_path, tags, loops):
    text = "Time," + ",".join(tags) + "\n2026-03-02 08:00," + ",".join("1" for _ in tags) + "\n"
    p = profile(tmp_path, text)
    assert [(b, list(s)) for b, s in p.notes.loops] == loops
    assert p.values["has_controllers"].value == bool(loops)


def test_the_command_line_passes_the_quality_convention(tmp_path):
    # A Quality column of 0s alone is refused unless the convention is given; given, it reads.
    path = tmp_path / "view.csv"
    path.write_text("TagName,Timestamp,Value,Quality\n"
                    "A,2026-03-02 08:00:00,1,0\nA,2026-03-02 08:01:00,2,0\n")
    run = lambda *flags: subprocess.run(  # noqa: E731
        [sys.executable, "-m", "qorv_chemical_engineering_edge", "profile", str(path),
         "--json", "-", *flags], capture_output=True, text=True, timeout=120)
    refused = run()
    assert refused.returncode != 0 and "quality_convention" in refused.stderr
    given = run("--quality-convention", "zero_good")
    assert given.returncode == 0, given.stderr
    profile = json.loads(given.stdout)
    assert profile["tags"][0]["present"] == 2
    assert profile["options"]["quality_convention"] == "zero_good"
