"""The Python package `ostrel` with the native libraries inside it (ostrel/lib), so that an installed
package needs no library path. Builds offline with Debian's setuptools:
    scripts/install-python.sh            (builds the libraries and a wheel, installs it), or
    pip install ./python                 (in a virtual environment of /usr/bin/python3)
The libraries come from ostrel/lib when it is filled already (the install script does that), else
from OSTREL_LIBRARY_DIR, else from the checkout's build tree build/default, which is built first
when it holds none."""
import os
import shutil
import subprocess
from pathlib import Path

from setuptools import setup
from setuptools.command.build_py import build_py
from setuptools.dist import Distribution

HERE = Path(__file__).resolve().parent
CHECKOUT = HERE.parent
LIBRARIES = {"libOstrelDAQEngine.so": "engine", "libOstrelBoardSim.so": "platform/sim"}


def _found(name):
    folders = [Path(entry) for entry in os.environ.get("OSTREL_LIBRARY_DIR", "").split(os.pathsep)
               if entry]
    folders.append(CHECKOUT / "build" / "default" / LIBRARIES[name])
    for folder in folders:
        if (folder / name).exists():
            return folder / name
    return None


def _native_libraries():
    """(path, name in the package) of each library; builds them in a checkout when missing."""
    if all(_found(name) is None for name in LIBRARIES) and (CHECKOUT / "CMakePresets.json").exists():
        for command in (["cmake", "--preset", "default"],
                        ["cmake", "--build", "--preset", "default", "-j2", "--target",
                         "OstrelDAQEngine", "OstrelBoardSim"]):
            subprocess.run(command, cwd=CHECKOUT, check=True, stdout=subprocess.DEVNULL)
    libraries = []
    for name in LIBRARIES:
        path = _found(name)
        if path is None:
            raise SystemExit(f"ostrel: {name} not found; build the checkout (scripts/demo.sh) or "
                             f"set OSTREL_LIBRARY_DIR")
        # Under its run-time name (the link the development name points to, e.g. name.0).
        run_name = os.readlink(path) if path.is_symlink() else name
        libraries.append((path.resolve(), Path(run_name).name))
    return libraries


class BuildWithLibraries(build_py):
    def run(self):
        super().run()
        target = Path(self.build_lib) / "ostrel" / "lib"
        if any(target.glob("*.so*")):
            return  # staged by scripts/install-python.sh
        target.mkdir(parents=True, exist_ok=True)
        for path, name in _native_libraries():
            shutil.copyfile(path, target / name)


class NativeDistribution(Distribution):
    """A platform wheel: it carries native libraries."""

    def has_ext_modules(self):
        return True


setup(
    name="ostrel",
    version="0.1.0",
    description="Python interface to the Ostrel digitizer boards (OstrelDAQEngine) and their "
                "simulator",
    python_requires=">=3.9",
    install_requires=["numpy"],
    packages=["ostrel"],
    package_data={"ostrel": ["lib/*.so*", "lib/*.dll", "lib/*.dylib"]},
    cmdclass={"build_py": BuildWithLibraries},
    distclass=NativeDistribution,
)
