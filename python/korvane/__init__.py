"""korvane: a CPU renderer that needs no display, returning numpy arrays.

    import korvane
    r = korvane.Renderer(256, 256)
    image = r.render(korvane.load("car.glb"), yaw=40)["color"]   # (256, 256, 3) uint8

One Renderer is live in a process at a time (the library has one rendering context); a second
raises korvane.Error, as does every failure of the library, with the line it reported.
"""

from . import _korvane
from ._korvane import Error, codes

__all__ = ["Error", "Renderer", "Model", "load", "load_obj", "model_from_parts", "codes", "immediate",
           "OUTPUTS"]

# What Renderer.render can return, by name.
OUTPUTS = ("color", "depth", "normals", "ids")

_AA = {"off": 1, "4x": 2, "9x": 3, "16x": 4, 1: 1, 2: 2, 3: 3, 4: 4}

# The view settings render and render_views take, with the library's defaults.
VIEW_KEYS = ("yaw", "pitch", "distance", "fov", "eye", "target", "up", "light", "lighting",
             "shadows", "floor", "background")

Model = _korvane.Model


def load(path):
    """Loads a model file of any format the importer reads; korvane.Error when it cannot."""
    return _korvane.load_model(str(path))


def load_obj(path):
    """Loads an OBJ file (with its MTL and textures) through the demo's own OBJ reader, as one
    part; korvane.Error when it cannot."""
    return _korvane.load_obj_model(str(path))


def model_from_parts(parts):
    """A model from arrays: parts is a list of (positions, (r, g, b, a)), positions an (N, 3)
    float array of independent triangles (three rows a triangle)."""
    return _korvane.model_from_parts(list(parts))


def _view(settings):
    unknown = set(settings) - set(VIEW_KEYS)
    if unknown:
        raise ValueError("unknown view setting(s): " + ", ".join(sorted(unknown)))
    return {k: v for k, v in settings.items() if v is not None}


def _outputs(outputs):
    if isinstance(outputs, str):
        outputs = (outputs,)
    return [str(o) for o in outputs]


class Renderer:
    """The rendering context of this process: width x height pictures, aa supersampling
    ("off", "4x", "9x", "16x" or 1 to 4 samples a side), threads drawing threads (0: one a
    hardware thread). Use it in a with block, or close() it, to make another."""

    def __init__(self, width, height, aa="4x", threads=0):
        if aa not in _AA:
            raise ValueError("aa must be off, 4x, 9x or 16x, not %r" % (aa,))
        self._r = _korvane.Renderer(int(width), int(height), _AA[aa], int(threads))

    width = property(lambda self: self._r.width)
    height = property(lambda self: self._r.height)

    @property
    def live(self):
        return self._r.live

    def close(self):
        """Releases the context; another Renderer can then be made."""
        self._r.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def render(self, model, outputs=("color", "depth"), **view):
        """One view of model, framed as krv-render frames it (centred, scaled into the unit
        sphere). view: yaw, pitch (degrees), distance (0: fits), or eye/target/up and fov; light
        (x, y, z), lighting, shadows, floor, background (r, g, b in 0..1). Returns a dict of
        new arrays: color (H, W, 3) uint8 top row first, depth (H, W) float32 (distance along
        the view axis in the unit frame, inf where nothing was drawn), normals (H, W, 3)
        uint8 and ids (H, W) uint16 (part index + 1, 0 for the background)."""
        return self._r.render(model, [_view(view)], _outputs(outputs), False)

    def render_views(self, model, views, outputs=("color", "depth")):
        """Many views in one call (a list of dicts of the settings render takes): arrays stacked
        as (N, H, W, ...). Ctrl-C stops between two views."""
        return self._r.render(model, [_view(dict(v)) for v in views], _outputs(outputs), True)

    def save_png(self, model, path, **view):
        """Renders one colour view and writes it as a PNG, with the library's own writer."""
        self._r.save_png(model, _view(view), str(path))

    def read_pixels(self):
        """The current picture (after immediate-mode drawing) as (H, W, 3) uint8."""
        return self._r.read_pixels()

    def read_depth(self):
        """The current depth buffer, window depth 0..1 (1 where nothing was drawn)."""
        return self._r.read_depth()


from . import immediate  # noqa: E402  (needs the names above)
