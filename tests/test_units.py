"""classify_unit_pair: hazards for unit pairs, and the text that reaches the unit court."""
import pytest

from qorv_chemical_engineering import classify_unit_pair


class Unit(str):
    """A str subclass whose methods lie about its text; only the text itself may count."""

    def __str__(self):
        return "furlong"

    lower = strip = __str__


@pytest.mark.parametrize("a, b, hazard", [
    ("kg/h", "kg/h", "consistent"), ("kelvin", "K", "consistent"), ("psig", "psi", "consistent"),
    ("kPa", "Pa", "scale_mismatch"), ("degF", "K", "scale_mismatch"), ("%", "ratio", "scale_mismatch"),
    ("degC", "K", "affine_offset_hazard"),
    ("bar", "kg/s", "dimension_mismatch"), ("wt%", "K", "dimension_mismatch"),
    ("wt%", "mol%", "basis_mismatch"), ("%", "wt%", "basis_mismatch"),
    ("furlong", "m", "unknown_unit"), ("m", "furlong", "unknown_unit"), ("kmol/s", "kmol/s", "unknown_unit"),
    # Case, surrounding blanks, carets and leading degree signs are the parser's to remove.
    ("KG/H", " kg/h ", "consistent"), ("\t\u00a0kW\u3000", "kw", "consistent"), ("\u212a", "kelvin", "consistent"),
    ("\u00b0C", "degC", "consistent"), ("m^3/h", "M3/H", "consistent"), ("", "dimensionless", "consistent"),
    ("\u00b0 C", "degC", "unknown_unit"), ("m\u00b3/h", "m3/h", "unknown_unit"),
    # The whole text is judged: nothing is cut at an embedded NUL.
    ("kg/h\0", "kg/h", "unknown_unit"), ("kg/h", "kg/h\0", "unknown_unit"), ("kg\0/h", "kg/h", "unknown_unit"),
    ("\0", "", "unknown_unit"),
    # A str subclass is judged on its text.
    (Unit("kPa"), "Pa", "scale_mismatch"), ("K", Unit("kelvin"), "consistent"),
    (Unit("K"), Unit("DEGC"), "affine_offset_hazard"),
])
def test_hazards(a, b, hazard):
    result = classify_unit_pair(a, b)
    assert type(result) is str and result == hazard
    assert classify_unit_pair(b=b, a=a) == hazard
    assert classify_unit_pair(a, b=b) == hazard
    assert classify_unit_pair(**{Unit("a"): a, Unit("b"): b}) == hazard
