# Frames against the C++ side's own bytes, and depth, normals and ids against scenes whose
# answers are known.
import math
import subprocess
import threading
import time

import numpy as np
import pytest

from conftest import BUILD, CAR, ROOT, fnv1a, square

FLAT = dict(yaw=0, pitch=0, floor=False, shadows=False, lighting=False)


def test_immediate_triangle_has_the_example_programs_hash(korvane):
    # examples/triangle.cpp draws this triangle; its test pins the picture at this hash.
    im = korvane.immediate
    with korvane.Renderer(320, 240) as r:
        im.clear()
        im.load_matrix(im.perspective(45, 320 / 240, 0.1, 100) @ im.translate(0, 0, -3))
        im.draw(im.vertices([[-1, -1, 0], [1, -1, 0], [0, 1, 0]],
                            colors=[[1, 0, 0], [0, 1, 0], [0, 0, 1]]))
        image = r.read_pixels()
    assert image.shape == (240, 320, 3) and image.dtype == np.uint8
    assert fnv1a(image) == "255c2ed7d433c615"


def test_matrices_compose_as_the_library_does(korvane):
    im = korvane.immediate
    t = im.translate(1, 2, 3)
    assert np.allclose(t @ [0, 0, 0, 1], [1, 2, 3, 1])
    r = im.rotate(90, (0, 0, 1))
    assert np.allclose(r @ [1, 0, 0, 1], [0, 1, 0, 1], atol=1e-6)


def _png_hash(path):
    tool = BUILD / "tests" / "programs" / "krv_png_hash"
    return subprocess.run([str(tool), str(path)], check=True, capture_output=True,
                          text=True).stdout.split()[0]


MODELS = ROOT / "tests" / "data" / "models"


# The same model, view and size give krv-render's bytes: both draw through the library's view.
@pytest.mark.parametrize("path,args,view", [
    (CAR, [], {}),
    (MODELS / "scene.gltf", ["--yaw", "50"], dict(yaw=50)),
    (MODELS / "embedded.glb", [], {}),
    (MODELS / "colours.ply", ["--pitch", "-10"], dict(pitch=-10)),
])
def test_imported_frames_are_krv_renders_bytes(korvane, tmp_path, path, args, view):
    out = tmp_path / "model.png"
    subprocess.run([str(BUILD / "krv-render"), str(path), "-o", str(out), "--size", "96x72"]
                   + args, check=True, capture_output=True)
    with korvane.Renderer(96, 72) as r:
        image = r.render(korvane.load(path), outputs="color", **view)["color"]
    assert _png_hash(out) == "96x72:" + fnv1a(image)


@pytest.mark.parametrize("args,view", [
    (["--yaw", "-75", "--pitch", "35", "--shadows", "off"], dict(yaw=-75, pitch=35, shadows=False)),
    (["--floor", "off", "--light", "2,3.5,3"], dict(floor=False, light=(2, 3.5, 3))),
])
def test_model_frames_are_krv_renders_bytes(korvane, tmp_path, args, view):
    out = tmp_path / "car.png"
    subprocess.run([str(BUILD / "krv-render"), str(CAR), "-o", str(out), "--size", "96x72"]
                   + args, check=True, capture_output=True)
    with korvane.Renderer(96, 72) as r:
        image = r.render(korvane.load_obj(CAR), outputs="color", **view)["color"]
    assert image.shape == (72, 96, 3)
    assert _png_hash(out) == "96x72:" + fnv1a(image)


def test_colour_is_top_row_first_and_unlit_parts_keep_their_colour(korvane, renderer):
    # A red square over the upper half of the box of a model that spans the whole height.
    m = korvane.model_from_parts([(square(y0=0.0), (1, 0, 0, 1)),
                                  (square(y1=-0.999, y0=-1.0, x0=-0.001, x1=0.001), (0, 0, 0, 1))])
    c = renderer.render(m, outputs="color", **FLAT)["color"]
    h = c.shape[0]
    red = c[:, :, 0] > 0
    assert red[: h // 2 - 2].any() and not red[h // 2 + 2:].any()
    assert (c[:, :, 1:] == 0).all()


def test_depth_is_the_distance_along_the_view_axis(korvane, renderer):
    m = korvane.model_from_parts([(square(), (1, 1, 1, 1))])
    for distance in (2.0, 3.5):
        d = renderer.render(m, outputs="depth", distance=distance, **FLAT)["depth"]
        assert d.dtype == np.float32 and d.shape == (48, 64)
        inside = np.isfinite(d)
        # The square is 2/sqrt(2) wide in the unit frame: a band in the middle, inf around it.
        assert inside[24, 32] and not inside[0, 0] and np.isinf(d[0, 0])
        assert np.allclose(d[inside], distance, rtol=1e-3)
    # Through a look-at camera at an angle, the depth of a plane varies linearly across it.
    d = renderer.render(m, outputs="depth", eye=(1.5, 0, 2.5), floor=False, shadows=False)["depth"]
    row = d[24][np.isfinite(d[24])]
    assert row.size > 10 and np.all(np.diff(row) < 0)  # the right side is nearer
    assert np.allclose(np.diff(row, 2), 0, atol=2e-3)


def test_ids_name_the_nearest_part_and_zero_the_background(korvane, renderer):
    back = square(z=-0.5)
    front = square(z=0.5, x0=0.0)  # covers the right half, nearer the camera
    m = korvane.model_from_parts([(back, (1, 0, 0, 1)), (front, (0, 1, 0, 1))])
    for view in (dict(FLAT), dict(FLAT, floor=True)):  # the floor is no part: it stays 0
        ids = renderer.render(m, outputs="ids", **view)["ids"]
        assert ids.dtype == np.uint16
        assert set(np.unique(ids)) == {0, 1, 2}
        assert ids[24, 20] == 1 and ids[24, 44] == 2 and ids[0, 0] == 0
    assert [p["color"] for p in m.parts] == [(1, 0, 0, 1), (0, 1, 0, 1)]
    assert m.bounds == ((-1, -1, -0.5), (1, 1, 0.5)) and m.triangles == 4


def test_normals_of_a_plane_facing_the_camera(korvane, renderer):
    m = korvane.model_from_parts([(square(), (1, 1, 1, 1))])
    n = renderer.render(m, outputs="normals", **FLAT)["normals"]
    assert n.shape == (48, 64, 3) and n.dtype == np.uint8
    centre = n[24, 32].astype(int)
    assert abs(centre[0] - 127.5) <= 1 and abs(centre[1] - 127.5) <= 1 and centre[2] >= 254
    assert (n[0, 0] == 0).all()


def test_many_views_stack_the_single_views(korvane, renderer):
    m = korvane.model_from_parts([(square(), (1, 0.5, 0, 1)), (square(z=0.3, x1=0), (0, 0, 1, 1))])
    views = [dict(yaw=a, pitch=10) for a in (0, 40, 80)]
    out = renderer.render_views(m, views, outputs=("color", "depth", "normals", "ids"))
    assert out["color"].shape == (3, 48, 64, 3) and out["depth"].shape == (3, 48, 64)
    assert out["normals"].shape == (3, 48, 64, 3) and out["ids"].shape == (3, 48, 64)
    for i, v in enumerate(views):
        one = renderer.render(m, outputs=("color", "depth", "ids"), **v)
        for k in one:
            assert np.array_equal(out[k][i], one[k], equal_nan=True), (i, k)
    assert not np.array_equal(out["color"][0], out["color"][1])
    for a in out.values():
        assert a.flags.owndata and a.flags.writeable and a.flags.c_contiguous


def test_the_car_and_its_passes(korvane, tmp_path):
    with korvane.Renderer(128, 96) as r:
        m = korvane.load_obj(CAR)
        assert m.triangles > 1000 and m.parts
        out = r.render(m, outputs=("color", "depth", "ids"), yaw=30)
        r.save_png(m, tmp_path / "car.png", yaw=30)
    assert _png_hash(tmp_path / "car.png") == "128x96:" + fnv1a(out["color"])
    d = out["depth"]
    covered = np.isfinite(d)
    assert 0.1 < covered.mean() < 0.9
    assert np.array_equal(covered, out["ids"] > 0)  # depth drawn exactly where a part is
    assert np.all(d[covered] > 0)


def test_rendering_releases_the_gil(korvane):
    with korvane.Renderer(256, 256, aa="16x", threads=1) as r:
        m = korvane.load_obj(CAR)
        ticks = []
        done = threading.Event()

        def count():
            while not done.is_set():
                ticks.append(time.perf_counter())
                time.sleep(0.001)

        t = threading.Thread(target=count)
        t.start()
        start = time.perf_counter()
        r.render_views(m, [dict(yaw=a) for a in range(0, 360, 60)], outputs="color")
        end = time.perf_counter()
        done.set()
        t.join()
    during = [x for x in ticks if start < x < end]
    # The counting thread ran all through the render, not only between the views.
    assert len(during) >= 0.3 * (end - start) / 0.001 * 0.2


def test_ctrl_c_stops_between_views(korvane):
    import signal

    def interrupt(_, frame):
        # A signal met elsewhere (a garbage collector's callback swallows what it raises) waits
        # for the timer's next tick; one met while the views render stops them.
        if frame is not None and frame.f_code.co_name == "render_views":
            signal.setitimer(signal.ITIMER_REAL, 0)
            raise KeyboardInterrupt

    old = signal.signal(signal.SIGALRM, interrupt)
    try:
        with korvane.Renderer(64, 64) as r:
            m = korvane.load_obj(CAR)
            signal.setitimer(signal.ITIMER_REAL, 0.05, 0.05)
            start = time.perf_counter()
            with pytest.raises(KeyboardInterrupt):
                r.render_views(m, [dict(yaw=a) for a in range(2000)], outputs="color")
            assert time.perf_counter() - start < 5
            # The renderer still works after the interruption.
            assert r.render(m, outputs="color")["color"].any()
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)
