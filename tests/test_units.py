"""classify_unit_pair: hazards for unit pairs, and the text that reaches the unit court."""
import pytest

from qorv_chemical_engineering import classify_unit_pair


class UnitText(str):
    def __str__(self):
        return "furlong"

    def lower(self):
        return "furlong"


@pytest.mark.parametrize("a, b, hazard", [
    ("kg/h", "kg/h", "consistent"),
    ("kelvin", "K", "consistent"),
    ("psig", "psi", "consistent"),
    ("kPa", "Pa", "scale_mismatch"),
    ("Pa", "kPa", "scale_mismatch"),
    ("degF", "K", "scale_mismatch"),
    ("%", "ratio", "scale_mismatch"),
    ("degC", "K", "affine_offset_hazard"),
    ("bar", "kg/s", "dimension_mismatch"),
    ("wt%", "K", "dimension_mismatch"),
    ("wt%", "mol%", "basis_mismatch"),
    ("%", "wt%", "basis_mismatch"),
    ("furlong", "m", "unknown_unit"),
    ("m", "furlong", "unknown_unit"),
    ("kmol/s", "kmol/s", "unknown_unit"),
    # Case, surrounding blanks, carets and degree signs are the parser's to remove.
    ("KG/H", " kg/h ", "consistent"),
    ("\t\u00a0kW\u3000", "kw", "consistent"),
    ("\u212a", "kelvin", "consistent"),
    ("\u00b0C", "degC", "consistent"),
    ("m^3/h", "M3/H", "consistent"),
    ("", "dimensionless", "consistent"),
    ("\u00b0 C", "degC", "unknown_unit"),
    ("m\u00b3/h", "m3/h", "unknown_unit"),
    # The whole text is judged: nothing is cut at an embedded NUL.
    ("kg/h\0", "kg/h", "unknown_unit"),
    ("kg/h", "kg/h\0", "unknown_unit"),
    ("kg\0/h", "kg/h", "unknown_unit"),
    ("\0", "", "unknown_unit"),
])
def test_hazards(a, b, hazard):
    assert classify_unit_pair(a, b) == hazard
    assert classify_unit_pair(b=b, a=a) == hazard
    assert classify_unit_pair(a, b=b) == hazard


def test_result_is_a_plain_str():
    result = classify_unit_pair("kPa", "Pa")
    assert type(result) is str
    assert classify_unit_pair("kPa", "Pa") == result


@pytest.mark.parametrize("a, b, hazard", [
    (UnitText("kPa"), "Pa", "scale_mismatch"),
    ("K", UnitText("kelvin"), "consistent"),
    (UnitText("K"), UnitText("DEGC"), "affine_offset_hazard"),
])
def test_str_subclass_is_judged_on_its_text(a, b, hazard):
    assert classify_unit_pair(a, b) == hazard


def test_keywords_may_be_str_subclasses():
    assert classify_unit_pair(**{UnitText("a"): "kPa", UnitText("b"): "Pa"}) == "scale_mismatch"
