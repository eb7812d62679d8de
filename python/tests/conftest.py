# The tests import the package built into the build tree (scripts/test sets PYTHONPATH to
# BUILD/python and KRV_BUILD_DIR to BUILD) or an installed one.
import os
import pathlib
import sys

import numpy as np
import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("KRV_BUILD_DIR", ROOT / "build"))
if not os.environ.get("PYTHONPATH") and (BUILD / "python" / "korvane").is_dir():
    sys.path.insert(0, str(BUILD / "python"))

CAR = ROOT / "data" / "Models" / "golf" / "golf.obj"


def fnv1a(rgb):
    """The pixel hash the C++ tests pin pictures by (tests/programs/png_hash.cpp): FNV-1a over
    red, green, blue, the top row first."""
    h = 1469598103934665603
    for b in np.ascontiguousarray(rgb, dtype=np.uint8).tobytes():
        h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % h


def square(z=0.0, x0=-1.0, x1=1.0, y0=-1.0, y1=1.0):
    """Two triangles of the rectangle x0..x1 by y0..y1 at depth z, facing +z."""
    return np.array([[x0, y0, z], [x1, y0, z], [x1, y1, z],
                     [x0, y0, z], [x1, y1, z], [x0, y1, z]], dtype=np.float32)


@pytest.fixture
def korvane():
    import korvane as k
    return k


@pytest.fixture
def renderer(korvane):
    with korvane.Renderer(64, 48) as r:
        yield r
