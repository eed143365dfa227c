"""pip install . -- the Python package morvex: the native module morvex._native,
built by the project's own CMake build (its compile flags keep the score
exact), and the pure-Python layer in python/morvex/ beside it.

Offline on Debian 12, in a virtual environment made with
--system-site-packages: pip install --no-build-isolation ."""

import os
import re
import shutil
import subprocess
import sys
import sysconfig

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))
with open(os.path.join(ROOT, "CMakeLists.txt")) as cmake_lists:
    VERSION = re.search(r"project\(morvex VERSION ([0-9.]+)", cmake_lists.read()).group(1)


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        build = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        subprocess.run(["cmake", "-S", ROOT, "-B", build, "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF",
                        "-DMORVEX_PYTHON=ON", f"-DPython3_EXECUTABLE={sys.executable}"], check=True)
        subprocess.run(["cmake", "--build", build, "--target", "morvex_python", "-j", str(os.cpu_count() or 1)],
                       check=True)
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(build, "python", "morvex", "_native" + sysconfig.get_config_var("EXT_SUFFIX")),
                        target)
        # The readers load the image codecs plugin from beside the module.
        shutil.copyfile(os.path.join(build, "python", "morvex", "morvex_image_codecs.so"),
                        os.path.join(os.path.dirname(target), "morvex_image_codecs.so"))


setup(
    name="morvex",
    version=VERSION,
    description="The score of depth maps of a stereo pair, and the evaluation of whole datasets",
    packages=["morvex"],
    package_dir={"morvex": "python/morvex"},
    ext_modules=[Extension("morvex._native", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    entry_points={"console_scripts": ["morvex-eval = morvex.eval:main"]},
    python_requires=">=3.11",
    # Beside the project's CMake tree in build/.
    options={"build": {"build_base": "build/pip"}},
)
