"""Renders a list of models x views into PNG files: in this process, over a process pool on this
machine, or over a Dask cluster. Each worker process keeps one Renderer (the library has one
rendering context a process) and loads each model once for all its views. The pictures are the
bytes a single-process run writes, whatever the pool. A model that fails is reported in its
result and the batch goes on.

    from korvane.batch import render_batch
    results = render_batch(["car.glb", "chair.obj"], [{"yaw": 0}, {"yaw": 90}], "out/",
                           processes=2)
    failed = [r for r in results if r.error]
"""

import multiprocessing
import os
from concurrent.futures import ProcessPoolExecutor, as_completed
from dataclasses import dataclass, field
from typing import List, Optional

__all__ = ["render_batch", "ItemResult"]


@dataclass
class ItemResult:
    """One model's outcome: the files written (one a view, in view order) or the error."""
    model: str
    files: List[str] = field(default_factory=list)
    error: Optional[str] = None


# The worker process's renderer, made by its first item and kept for the rest.
_renderer = None
_renderer_key = None


def _worker_renderer(width, height, aa, threads):
    global _renderer, _renderer_key
    import korvane
    key = (width, height, aa, threads)
    if _renderer is not None and _renderer_key != key:
        _renderer.close()
        _renderer = None
    if _renderer is None:
        _renderer = korvane.Renderer(width, height, aa=aa, threads=threads)
        _renderer_key = key
    return _renderer


def _close_worker_renderer():
    global _renderer, _renderer_key
    if _renderer is not None:
        _renderer.close()
    _renderer = None
    _renderer_key = None


def _output_name(out_dir, model, index, n_models, view, n_views):
    stem = os.path.splitext(os.path.basename(model))[0] or "model"
    digits = max(3, len(str(n_views - 1)))
    return os.path.join(out_dir, "%0*d_%s_%0*d.png" % (
        max(3, len(str(n_models - 1))), index, stem, digits, view))


def render_item(item):
    """Renders one model's views (a picklable tuple, so that any pool can ship it)."""
    index, n_models, model, views, out_dir, width, height, aa, threads, loader = item
    result = ItemResult(model=model)
    try:
        import korvane
        r = _worker_renderer(width, height, aa, threads)
        m = getattr(korvane, loader)(model)
        try:
            for v, view in enumerate(views):
                path = _output_name(out_dir, model, index, n_models, v, len(views))
                r.save_png(m, path, **view)
                result.files.append(path)
        finally:
            m.close()
    except Exception as e:  # one bad model is a line in its result, never the batch's end
        result.error = "%s: %s" % (type(e).__name__, e)
    return result


def _progress(total, enabled):
    if not enabled:
        return None
    try:
        from tqdm import tqdm
    except ImportError:
        return None
    return tqdm(total=total, unit="model", desc="korvane")


def render_batch(models, views, out_dir, size=(256, 256), aa="4x", threads=0, processes=None,
                 client=None, progress=True, loader="load"):
    """Renders every model of models (paths) from every view of views (dicts of the settings
    Renderer.render takes) into out_dir, as NNN_NAME_VVV.png. processes=None renders in this
    process (with no other Renderer live here); processes=N uses a pool of N worker processes; client, a
    dask.distributed Client, sends one task a model to its workers. threads is each
    renderer's drawing threads (0: one a core; 1 suits a pool of one process a core).
    loader names the korvane function that loads a path ("load", the importer, or "load_obj").
    Returns one ItemResult a model, in the order of models."""
    if loader not in ("load", "load_obj"):
        raise ValueError("loader must be 'load' or 'load_obj'")
    models = [str(m) for m in models]
    views = [dict(v) for v in views]
    if not views:
        raise ValueError("no views")
    os.makedirs(out_dir, exist_ok=True)
    width, height = int(size[0]), int(size[1])
    items = [(i, len(models), m, views, str(out_dir), width, height, aa, int(threads),
              loader)
             for i, m in enumerate(models)]
    results = [None] * len(items)
    bar = _progress(len(items), progress)

    def done(i, res):
        results[i] = res
        if bar is not None:
            bar.update(1)
            if res.error:
                bar.write("korvane: %s: %s" % (res.model, res.error))

    try:
        if client is not None:
            from distributed import as_completed as dask_completed
            futures = client.map(render_item, items, pure=False)
            index = {f.key: i for i, f in enumerate(futures)}
            for f in dask_completed(futures):
                done(index[f.key], f.result())
        elif processes:
            # Spawned, not forked: a child forked from a process with a live renderer (or the
            # library's drawing threads) would inherit a context it cannot use.
            ctx = multiprocessing.get_context("spawn")
            with ProcessPoolExecutor(max_workers=int(processes), mp_context=ctx) as pool:
                futures = {pool.submit(render_item, it): i for i, it in enumerate(items)}
                for f in as_completed(futures):
                    done(futures[f], f.result())
        else:
            try:
                for i, it in enumerate(items):
                    done(i, render_item(it))
            finally:
                # In this process the renderer is the caller's one context: give it back.
                _close_worker_renderer()
    finally:
        if bar is not None:
            bar.close()
    return results
