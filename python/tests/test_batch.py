# The batch helper: in this process, over a pool and over a Dask cluster of two worker
# processes, the same files byte for byte; a bad model is listed and the rest rendered.
import os
import pathlib

import pytest

from conftest import BUILD, CAR, ROOT

VIEWS = [dict(yaw=0), dict(yaw=120, pitch=40, shadows=False), dict(yaw=240, floor=False)]


def _models(tmp_path):
    broken = tmp_path / "broken.obj"
    broken.write_text("this is no model\n")
    return [str(CAR), str(tmp_path / "missing.obj"), str(broken), str(CAR)]


def _files(results):
    return [[pathlib.Path(f).name for f in r.files] for r in results]


def _bytes(results):
    return [[pathlib.Path(f).read_bytes() for f in r.files] for r in results]


def _check(results, reference):
    assert [r.error is None for r in results] == [True, False, False, True]
    assert "missing.obj" in results[1].error
    assert _files(results) == _files(reference)
    assert _bytes(results) == _bytes(reference)


@pytest.fixture(scope="module")
def single(tmp_path_factory):
    from korvane.batch import render_batch
    out = tmp_path_factory.mktemp("single")
    models = _models(out)
    return models, render_batch(models, VIEWS, out / "png", size=(48, 32), progress=False, loader="load_obj")


def test_in_process_batch_lists_bad_models_and_renders_the_rest(single):
    models, results = single
    assert [r.model for r in results] == models
    assert [len(r.files) for r in results] == [3, 0, 0, 3]
    assert all(os.path.getsize(f) > 100 for r in results for f in r.files)
    assert _files(results)[0] == ["000_golf_000.png", "000_golf_001.png", "000_golf_002.png"]


def test_process_pool_writes_the_same_bytes(single, tmp_path):
    from korvane.batch import render_batch
    models, reference = single
    results = render_batch(models, VIEWS, tmp_path, size=(48, 32), processes=2, threads=1, loader="load_obj",
                           progress=True)
    _check(results, reference)


def test_dask_cluster_of_two_processes_writes_the_same_bytes(single, tmp_path):
    distributed = pytest.importorskip("distributed")
    from korvane.batch import render_batch
    models, reference = single
    # The workers are new processes: they find the package the way this one did.
    import korvane
    os.environ["PYTHONPATH"] = os.pathsep.join(
        [str(pathlib.Path(korvane.__file__).parents[1])] +
        [p for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p])
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None, silence_logs=40) as cluster, \
            distributed.Client(cluster) as client:
        results = render_batch(models, VIEWS, tmp_path, size=(48, 32), client=client, threads=1,
                               loader="load_obj")
        pids = client.run(os.getpid)
    assert len(set(pids.values())) == 2 and os.getpid() not in pids.values()
    _check(results, reference)


def test_bad_arguments(tmp_path):
    from korvane.batch import render_batch
    with pytest.raises(ValueError):
        render_batch([str(CAR)], [], tmp_path)
    with pytest.raises(ValueError):
        render_batch([str(CAR)], VIEWS, tmp_path, loader="eval")
    # A bad view is the model's error, like a bad file.
    results = render_batch([str(CAR)], [dict(pitch=100)], tmp_path, size=(8, 8), progress=False,
                           loader="load_obj")
    assert results[0].error and "pitch" in results[0].error
