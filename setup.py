"""Builds the package quarrow2 for pip (see pyproject.toml): the project's CMake, configured
for the library and the Python module alone (QUARROW2_PYTHON_WHEEL) and for the Python
running this, builds the extension and installs the package, with libquarrow2.so.2 beside
the extension, into setuptools' build folder, from which pip makes the wheel."""
import hashlib
import os
import pathlib
import re
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

try:  # bdist_wheel: the package wheel's, or setuptools' own from 70.1 on
    import wheel  # noqa: F401
except ImportError:
    try:
        import setuptools.command.bdist_wheel  # noqa: F401
    except ImportError:
        sys.exit(f"Building quarrow2 for {sys.executable} needs the package wheel in that Python "
                 "(Debian: python3-wheel); --no-build-isolation uses what it has.")

ROOT = pathlib.Path(__file__).resolve().parent
# The one source of the version: the project's.
VERSION = re.search(r"^project\(Quarrow2 VERSION ([0-9.]+)",
                    (ROOT / "CMakeLists.txt").read_text(encoding="utf-8"), re.M)[1]


class CMakeBuild(build_ext):
    """Builds the extension with CMake, then lets CMake install the whole package."""

    def build_extension(self, ext):
        # One CMake tree per interpreter, so that two Pythons of one version never share one.
        interpreter = hashlib.sha1(os.fsencode(os.path.realpath(sys.executable))).hexdigest()[:8]
        tree = pathlib.Path(self.build_temp).resolve() / f"cmake-{interpreter}"
        package_root = pathlib.Path(self.get_ext_fullpath(ext.name)).resolve().parent.parent
        configure = ["cmake", "-S", str(ROOT), "-B", str(tree), "-DCMAKE_BUILD_TYPE=Release",
                     "-DQUARROW2_PYTHON_WHEEL=ON", "-DQUARROW2_BUILD_TESTS=OFF",
                     f"-DPython3_EXECUTABLE={sys.executable}"]
        try:  # pybind11 from PyPI (build isolation) says where its CMake files are
            import pybind11
            if os.path.isdir(pybind11.get_cmake_dir()):
                configure.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
        except ImportError:  # Debian's pybind11-dev is found by CMake itself
            pass
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
        for command in (configure,
                        ["cmake", "--build", str(tree), "--target", "quarrow2_python", "-j", jobs],
                        ["cmake", "--install", str(tree), "--component", "python",
                         "--prefix", str(package_root)]):
            subprocess.run(command, check=True)


setup(
    version=VERSION,
    packages=[],  # the package comes whole from CMake's install, the extension with it
    ext_modules=[Extension("quarrow2._quarrow2", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
