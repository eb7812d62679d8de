"""The immediate-mode krv calls, for teaching and custom scenes: a thin layer over the library.

Matrices are (4, 4) float arrays in the usual row-column order (a point is M @ [x, y, z, 1]);
vertices are (N, 14) float32 arrays in the library's vertex layout, three rows a triangle,
which vertices() builds from separate arrays. A Renderer must be live.

    r = korvane.Renderer(320, 240)
    im = korvane.immediate
    im.clear()
    im.load_matrix(im.perspective(45, 320 / 240, 0.1, 100) @ im.translate(0, 0, -3))
    im.draw(im.vertices([[-1, -1, 0], [1, -1, 0], [0, 1, 0]], colors=[[1, 0, 0]] * 3))
    image = r.read_pixels()
"""

import numpy as np

from . import _korvane
from ._korvane import codes, look_at, perspective, rotate, translate

__all__ = ["vertices", "draw", "clear", "load_matrix", "switch", "cull_face", "perspective",
           "look_at", "rotate", "translate", "codes"]


def vertices(positions, colors=None, normals=None, uvs=None):
    """An (N, 14) float32 vertex array from (N, 3) positions and optional (N, 3) colours
    (default white), (N, 3) normals and (N, 2) texture coordinates."""
    p = np.asarray(positions, dtype=np.float32)
    if p.ndim != 2 or p.shape[1] != 3 or p.shape[0] % 3 != 0:
        raise ValueError("positions must be (N, 3), N a multiple of 3")
    out = np.zeros((p.shape[0], 14), dtype=np.float32)
    out[:, 0:3] = p
    out[:, 3:6] = 1.0
    for column, values, width, name in ((3, colors, 3, "colors"), (8, normals, 3, "normals"),
                                        (6, uvs, 2, "uvs")):
        if values is None:
            continue
        a = np.asarray(values, dtype=np.float32)
        if a.shape != (p.shape[0], width):
            raise ValueError("%s must be (%d, %d)" % (name, p.shape[0], width))
        out[:, column:column + width] = a
    return out


def draw(vertex_array):
    """Draws the triangles of an (N, 14) float32 array with the current matrix and state."""
    _korvane.draw_array(vertex_array)


def clear(what=codes.CLEAR_BOTH):
    _korvane.clear(int(what))


def load_matrix(m):
    _korvane.load_matrix(m)


def switch(code, on):
    _korvane.switch(int(code), bool(on))


def cull_face(mode):
    _korvane.cull_face(int(mode))
