import math

import pytest

import tessarin
from conftest import rectangle_image


@pytest.fixture(scope="module")
def segments():
    segs = tessarin.detect(rectangle_image(), 1.0)
    assert segs, "the rectangle must give segments"
    return segs


def test_instances_are_immutable(segments):
    s = segments[0]
    with pytest.raises(AttributeError):
        s.x1 = 0.0
    with pytest.raises(AttributeError):
        del s.width
    with pytest.raises(AttributeError):
        s.foo = 1
    assert not hasattr(s, "__dict__")


def test_identity_semantics(segments):
    again = tessarin.detect(rectangle_image(), 1.0)
    assert (again[0].x1, again[0].y2) == (segments[0].x1, segments[0].y2)
    assert again[0] != segments[0]
    assert again[0] == again[0]


def test_fields_and_derived_values(segments):
    for s in segments:
        for name in ("x1", "y1", "x2", "y2", "width", "precision", "log_nfa"):
            assert type(getattr(s, name)) is float
        assert s.length == math.hypot(s.x2 - s.x1, s.y2 - s.y1)
        a = math.degrees(math.atan2(s.y2 - s.y1, s.x2 - s.x1))
        expected = a - 180.0 if a > 90.0 else a
        expected = expected + 180.0 if expected <= -90.0 else expected
        assert s.angle == pytest.approx(expected, abs=1e-12)
        assert -90.0 < s.angle <= 90.0


def test_repr_uses_one_decimal(segments):
    for s in segments:
        text = "Segment(({}, {})-({}, {}), width={})".format(
            *(format(v, ".1f") for v in (s.x1, s.y1, s.x2, s.y2, s.width))
        )
        assert repr(s) == text == str(s)


@pytest.fixture
def decimal_comma():
    """Sets a locale whose decimal point is a comma (as GUI programs do)."""
    import locale

    saved = locale.setlocale(locale.LC_ALL)
    for name in ("de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "de_DE"):
        try:
            locale.setlocale(locale.LC_ALL, name)
        except locale.Error:
            continue
        if locale.localeconv()["decimal_point"] == ",":
            break
    else:
        locale.setlocale(locale.LC_ALL, saved)
        pytest.skip("no locale with a decimal comma is installed (scripts/lib.sh ensure_locale makes one)")
    yield
    locale.setlocale(locale.LC_ALL, saved)


def test_repr_ignores_the_locale(segments, decimal_comma):
    for s in segments:
        text = "Segment(({}, {})-({}, {}), width={})".format(
            *(format(v, ".1f") for v in (s.x1, s.y1, s.x2, s.y2, s.width))
        )
        assert repr(s) == text
        assert "," not in text.split("width=")[1]


def test_sorted_longest_first(segments):
    lengths = [s.length for s in segments]
    assert lengths == sorted(lengths, reverse=True)
