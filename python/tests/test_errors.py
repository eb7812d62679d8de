# Failures are korvane.Error with the line the library reported; bad arguments are ValueError
# or TypeError before anything is drawn; the context is one a process.
import numpy as np
import pytest

from conftest import square


def test_second_live_renderer_is_an_error_until_the_first_closes(korvane):
    first = korvane.Renderer(16, 16)
    with pytest.raises(korvane.Error, match="already live"):
        korvane.Renderer(16, 16)
    first.close()
    first.close()  # closing twice is harmless
    with korvane.Renderer(8, 8) as second:
        assert second.live and (second.width, second.height) == (8, 8)
    assert not second.live
    with pytest.raises(korvane.Error, match="closed"):
        second.read_pixels()


@pytest.mark.parametrize("path", ["/nonexistent/model.obj", "/", "/dev/null"])
def test_bad_paths_carry_the_report_line(korvane, path):
    with pytest.raises(korvane.Error) as e:
        korvane.load(path)
    assert path in str(e.value) and "\n" not in str(e.value)
    with pytest.raises(korvane.Error) as e:
        korvane.load_obj(path)
    assert "\n" not in str(e.value)


def test_malformed_files_are_errors(korvane, tmp_path):
    bad = tmp_path / "bad.obj"
    bad.write_text("v 1 2\nf 1 2 9999999999\n")
    with pytest.raises(korvane.Error):
        korvane.load(bad)


@pytest.mark.parametrize("size,aa,threads", [
    ((0, 10), "4x", 0), ((10, -1), "4x", 0), ((9000, 10), "4x", 0), ((10, 10), "8x", 0),
    ((10, 10), 5, 0), ((10, 10), "4x", -1),
])
def test_bad_renderer_arguments(korvane, size, aa, threads):
    with pytest.raises(ValueError):
        korvane.Renderer(*size, aa=aa, threads=threads)
    with korvane.Renderer(4, 4):  # nothing was left taken
        pass


@pytest.mark.parametrize("view,error,match", [
    (dict(fov=0.5), "Error", "field of view"),
    (dict(fov=float("nan")), "Error", "field of view"),
    (dict(pitch=95), "Error", "pitch"),
    (dict(yaw=float("inf")), "Error", "yaw"),
    (dict(distance=-1), "Error", "distance"),
    (dict(eye=(0, 0, 0)), "Error", "camera"),
    (dict(eye=(0, 3, 0)), "Error", "camera"),  # looking along up
    (dict(light=(0, 0.1, 0)), "Error", "light"),  # too near for the shadow map
    (dict(zoom=2), "ValueError", "zoom"),
    (dict(eye=(1, 2)), "ValueError", "eye"),
    (dict(light="abc"), "ValueError", "light"),
])
def test_bad_views(korvane, renderer, view, error, match):
    m = korvane.model_from_parts([(square(), (1, 1, 1, 1))])
    kind = korvane.Error if error == "Error" else ValueError
    with pytest.raises(kind, match=match):
        renderer.render(m, **view)
    # The failure left the renderer usable.
    assert renderer.render(m, outputs="color")["color"].any()


def test_bad_outputs_and_models(korvane, renderer):
    m = korvane.model_from_parts([(square(), (1, 1, 1, 1))])
    with pytest.raises(ValueError, match="unknown output"):
        renderer.render(m, outputs=("color", "albedo"))
    with pytest.raises(ValueError):
        renderer.render(m, outputs=())
    with pytest.raises(TypeError):
        renderer.render("not a model")
    for parts in ([], [(np.zeros((4, 3)), (1, 1, 1, 1))], [(np.zeros((3, 2)), (1, 1, 1, 1))],
                  [(square(), (1, 1, 1))], [(np.full((3, 3), np.nan), (1, 1, 1, 1))]):
        with pytest.raises(ValueError):
            korvane.model_from_parts(parts)
    m.close()
    with pytest.raises(korvane.Error, match="closed"):
        renderer.render(m)
    with pytest.raises(korvane.Error, match="closed"):
        m.parts


def test_immediate_calls_need_a_renderer_and_well_shaped_arrays(korvane):
    im = korvane.immediate
    with pytest.raises(korvane.Error, match="no live renderer"):
        im.clear()
    with korvane.Renderer(8, 8):
        with pytest.raises(ValueError):
            im.draw(np.zeros((4, 14), np.float32))
        with pytest.raises(ValueError):
            im.draw(np.zeros((3, 13), np.float32))
        with pytest.raises(ValueError):
            im.load_matrix(np.eye(3))
        with pytest.raises(ValueError):
            im.vertices([[0, 0, 0]] * 3, colors=[[1, 1, 1]])
        im.draw(np.zeros((0, 14), np.float32))  # nothing to draw is no error
