"""Builds and installs the korvane package from the source tree, offline:

    pip install --no-build-isolation ./python

The extension is built by the project's own CMake build (the repository root with
KRV_BUILD_PYTHON=ON, only the module's target) with the interpreter running this script; what
it needs is Debian's: cmake, g++, pybind11-dev, python3-dev, libfreeimage-dev, libassimp-dev
(scripts/install-deps --python). CMAKE_BUILD_PARALLEL_LEVEL sets the build's jobs (default 2).
"""

import glob
import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def project_version():
    try:
        with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as f:
            found = re.search(r"project\(\s*korvane\s+VERSION\s+([0-9.]+)", f.read())
    except OSError:
        found = None
    if not found:
        sys.exit("korvane setup: %s is not the korvane source tree (its CMakeLists.txt has no "
                 "project version); install from the repository's python/ folder" % ROOT)
    return found.group(1)


class CMakeBuild(build_ext):
    """Runs CMake on the repository root and takes the module it builds."""

    def build_extension(self, ext):
        if shutil.which("cmake") is None:
            raise RuntimeError("korvane setup: cmake not found (Debian: apt-get install cmake)")
        build_dir = os.path.join(os.path.abspath(self.build_temp), "cmake")
        out_dir = os.path.join(build_dir, "package")
        os.makedirs(build_dir, exist_ok=True)
        configure = [
            "cmake", "-S", ROOT, "-B", build_dir,
            "-DCMAKE_BUILD_TYPE=Release",
            "-DKRV_BUILD_PYTHON=ON",
            "-DPython3_EXECUTABLE=" + sys.executable,
            "-DKRV_PYTHON_OUT=" + out_dir,
            # Only the library and the module: no tests, demo, benchmarks, tools or examples.
            "-DKRV_BUILD_TESTS=OFF", "-DKRV_BUILD_DEMO=OFF", "-DKRV_BUILD_BENCH=OFF",
            "-DKRV_BUILD_TOOLS=OFF", "-DKRV_BUILD_EXAMPLES=OFF", "-DKRV_INSTALL=OFF",
        ]
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", "2")
        self.spawn(configure)
        self.spawn(["cmake", "--build", build_dir, "--target", "_korvane", "-j", jobs])
        built = glob.glob(os.path.join(out_dir, "korvane", "_korvane*.so"))
        if len(built) != 1:
            raise RuntimeError("korvane setup: the build left %d modules in %s"
                               % (len(built), os.path.join(out_dir, "korvane")))
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built[0], target)


setup(
    name="korvane",
    version=project_version(),
    description="A CPU renderer that needs no display, returning numpy arrays",
    license="MIT",
    packages=["korvane"],
    ext_modules=[Extension("korvane._korvane", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    install_requires=["numpy"],
    python_requires=">=3.8",
    zip_safe=False,
)
