#!/usr/bin/env python3
"""Python benchmark: frames a second of 256x256 colour+depth views from the korvane module, in one
process and over both cores, against the same frames rendered from C++ (bench/views_bench).

For each model (the demo car, and a glTF model: assimp's 2CylinderEngine.glb when the
assimp-testmodels package is there, else the test scene), --rounds rounds of --views turntable
views each:

  C++          views_bench, the library calls of Renderer.render_views in a C++ program, one
               round a process, its drawing loop alone timed
  render_views Renderer.render_views(model, views) in this process
  render       Renderer.render(model, **view), a call a view in a Python loop
  2 processes  two spawned worker processes of one drawing thread each, half the views each
  batch PNGs   korvane.batch.render_batch writing colour PNGs of 4 copies of the model (every
               other view each), in this process and over a pool of 2 processes, start-up
               and loading included

Frames a second are wall-clock, with one drawing thread a core in one process, the best of the
rounds (the least disturbed: the machine may be shared). The Python overhead is measured where
the machine's load reaches least: the processor time of a frame with one drawing thread
(time.process_time here, the process's clock in views_bench), C++ and Python rounds in turn,
the median of the rounds' ratios. The last views' hashes (FNV-1a of the RGB) show that both
rendered the same frames.

    bench/python_bench.py [--build build] [--views 24] [--rounds 7] [--json FILE]

The module is imported from BUILD/python when it is there, else as installed.
"""

import argparse
import json
import multiprocessing
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ProcessPoolExecutor

ROOT = pathlib.Path(__file__).resolve().parents[1]
CAR = ROOT / "data" / "Models" / "golf" / "golf.obj"
GLTF_CANDIDATES = (
    pathlib.Path("/usr/share/assimp/models/glTF2/2CylinderEngine-glTF-Binary/2CylinderEngine.glb"),
    ROOT / "tests" / "data" / "models" / "scene.gltf",
)
SIZE = 256
AA = "4x"
OUTPUTS = ("color", "depth")


def fnv1a(rgb):
    import numpy as np
    h = 1469598103934665603
    for b in np.ascontiguousarray(rgb, dtype=np.uint8).tobytes():
        h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % h


def turntable(n):
    # As views_bench's: float yaw i * 360 / n, pitch 20, the distance that fits.
    return [{"yaw": 360.0 * i / n, "pitch": 20.0} for i in range(n)]


def median(values):
    v = sorted(values)
    n = len(v)
    return v[n // 2] if n % 2 else 0.5 * (v[n // 2 - 1] + v[n // 2])


def cpp_round(bench, model, views, threads):
    """One round of views_bench, a process of its own (only its drawing loop is timed): frames a
    second, processor milliseconds a frame, the last view's hash."""
    out = subprocess.run([str(bench), str(model), "--size", "%dx%d" % (SIZE, SIZE), "--aa", AA,
                          "--views", str(views), "--rounds", "1", "--threads", str(threads),
                          "--outputs", "color+depth"],
                         check=True, capture_output=True, text=True).stdout
    found = re.search(r"\| fps ([0-9.]+) \| frame_ms [0-9.]+ \| cpu_ms ([0-9.]+) "
                      r"\| hash ([0-9a-f]{16})", out)
    if not found:
        sys.exit("python_bench: cannot read views_bench's line: " + out)
    return float(found.group(1)), float(found.group(2)), found.group(3)


def one_process(korvane, bench, model, views, rounds):
    """C++ and Python rounds in turn, so that both meet the same load of the machine.
    Frames a second with the default drawing threads (one a core): C++ and render_views; then
    processor milliseconds a frame with one drawing thread: C++, render_views and a render call
    a view. And whether the last views' hashes agree."""
    n = len(views)
    f = {"cpp_fps": [], "views_fps": [], "cpp_cpu": [], "views_cpu": [], "render_cpu": []}
    same = True
    for threads in (0, 1):  # 0 first: a renderer of one thread leaves the library at one
        with korvane.Renderer(SIZE, SIZE, aa=AA, threads=threads) as r:
            m = korvane.load(model)
            r.render_views(m, views[:2], outputs=OUTPUTS)  # warm-up
            for _ in range(rounds):
                fps, cpu, cpp_hash = cpp_round(bench, model, n, threads)
                t, c = time.perf_counter(), time.process_time()
                out = r.render_views(m, views, outputs=OUTPUTS)
                t, c = time.perf_counter() - t, time.process_time() - c
                same = same and fnv1a(out["color"][-1]) == cpp_hash
                if threads == 0:
                    f["cpp_fps"].append(fps)
                    f["views_fps"].append(n / t)
                    continue
                f["cpp_cpu"].append(cpu)
                f["views_cpu"].append(1000 * c / n)
                c = time.process_time()
                for v in views:
                    r.render(m, outputs=OUTPUTS, **v)
                f["render_cpu"].append(1000 * (time.process_time() - c) / n)
            m.close()
    return f, same


# The pool's worker: one renderer of one drawing thread and the model, made once.
_worker = {}


def _pool_init(import_path, model, barrier):
    if import_path:
        sys.path.insert(0, import_path)
    import korvane
    _worker["r"] = korvane.Renderer(SIZE, SIZE, aa=AA, threads=1)
    _worker["m"] = korvane.load(model)
    _worker["barrier"] = barrier


def _pool_task(views):
    # Both workers start together (each holds one of the round's two tasks at the barrier), and
    # time.monotonic is the machine's clock, so the round's span is max(end) - min(start).
    _worker["barrier"].wait()
    start = time.monotonic()
    _worker["r"].render_views(_worker["m"], views, outputs=OUTPUTS)
    return start, time.monotonic()


def pool_fps(import_path, model, views, rounds, workers=2):
    ctx = multiprocessing.get_context("spawn")
    barrier = ctx.Barrier(workers)
    shares = [views[i::workers] for i in range(workers)]
    fps = []
    with ProcessPoolExecutor(max_workers=workers, mp_context=ctx, initializer=_pool_init,
                             initargs=(import_path, str(model), barrier)) as pool:
        list(pool.map(_pool_task, [s[:2] for s in shares]))  # start-up and warm-up
        for _ in range(rounds):
            spans = list(pool.map(_pool_task, shares))
            fps.append(len(views) / (max(e for _, e in spans) - min(s for s, _ in spans)))
    return fps


def batch_fps(model, views, copies, processes):
    from korvane.batch import render_batch
    out = tempfile.mkdtemp(prefix="krv-bench-")
    try:
        t = time.perf_counter()
        results = render_batch([str(model)] * copies, views, out, size=(SIZE, SIZE), aa=AA,
                               threads=1 if processes else 0, processes=processes,
                               progress=False)
        seconds = time.perf_counter() - t
    finally:
        shutil.rmtree(out, ignore_errors=True)
    bad = [r for r in results if r.error]
    if bad:
        sys.exit("python_bench: the batch failed: " + bad[0].error)
    return copies * len(views) / seconds


def main():
    p = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    p.add_argument("--build", default=str(ROOT / "build"), help="the CMake build folder")
    p.add_argument("--views", type=int, default=24, help="views a round (default 24)")
    p.add_argument("--rounds", type=int, default=7, help="rounds a figure (default 7)")
    p.add_argument("--json", help="also write the figures to this file")
    args = p.parse_args()

    build = pathlib.Path(args.build).resolve()
    import_path = str(build / "python") if (build / "python" / "korvane").is_dir() else ""
    if import_path:
        sys.path.insert(0, import_path)
    import korvane
    bench = build / "views_bench"
    if not bench.is_file():
        sys.exit("python_bench: no %s: build the benchmarks (KRV_BUILD_BENCH)" % bench)
    gltf = next((m for m in GLTF_CANDIDATES if m.is_file()), None)
    views = turntable(args.views)

    print("korvane from %s; %dx%d aa %s colour+depth, %d views x %d rounds, %d cores" % (
        os.path.dirname(korvane.__file__), SIZE, SIZE, AA,
        args.views, args.rounds, os.cpu_count()))
    figures = {}
    for name, model in (("car", CAR), ("gltf", gltf)):
        if model is None:
            continue
        rounds, same = one_process(korvane, bench, model, views, args.rounds)
        pool = pool_fps(import_path, model, views, args.rounds)
        batch_views = views[::2]
        batch1 = batch_fps(model, batch_views, 4, None)
        batch2 = batch_fps(model, batch_views, 4, 2)
        cpp_cpu, views_cpu, render_cpu = (rounds[k] for k in ("cpp_cpu", "views_cpu",
                                                              "render_cpu"))
        # Frames a second: the best rounds (the least disturbed). Overhead: the extra processor
        # time of a Python frame, the median of the rounds' ratios.
        f = {"model": str(model), "cpp_fps": max(rounds["cpp_fps"]),
             "render_views_fps": max(rounds["views_fps"]), "pool2_fps": max(pool),
             "batch1_fps": batch1, "batch2_fps": batch2,
             "cpp_cpu_ms": median(cpp_cpu), "render_views_cpu_ms": median(views_cpu),
             "render_cpu_ms": median(render_cpu),
             "overhead_render_views": median([p / c for p, c in zip(views_cpu, cpp_cpu)]) - 1,
             "overhead_render": median([p / c for p, c in zip(render_cpu, cpp_cpu)]) - 1,
             "same_frames": same, "rounds": dict(rounds, pool2_fps=pool)}
        figures[name] = f
        print("%s (%s):" % (name, model.name))
        print("  frames a second (best of %d rounds): C++ %.1f | render_views %.1f | 2 processes"
              " x 1 thread %.1f | same frames: %s" % (
                  args.rounds, f["cpp_fps"], f["render_views_fps"], f["pool2_fps"],
                  "yes" if same else "NO"))
        print("  processor ms a frame, 1 thread (medians): C++ %.2f | render_views %.2f "
              "(overhead %+.1f%%) | render a call a view %.2f (%+.1f%%)" % (
                  f["cpp_cpu_ms"], f["render_views_cpu_ms"], 100 * f["overhead_render_views"],
                  f["render_cpu_ms"], 100 * f["overhead_render"]))
        print("  batch helper, 4 x %d PNGs, start-up and loading included: 1 process %.1f fps,"
              " pool of 2 %.1f fps" % (len(batch_views), batch1, batch2))
    if args.json:
        with open(args.json, "w") as fh:
            json.dump(figures, fh, indent=1)
    return 0 if all(f["same_frames"] for f in figures.values()) else 1


if __name__ == "__main__":
    sys.exit(main())
