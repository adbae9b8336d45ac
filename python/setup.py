"""Adds vtr422/_origin.py to the built package: the source tree it was built
from, whose build/default/lib the package looks in for libvtr422 when the
library is not installed. Everything else is in pyproject.toml."""

import pathlib

from setuptools import setup
from setuptools.command.build_py import build_py

TREE = pathlib.Path(__file__).resolve().parents[1]


class BuildPy(build_py):
    def run(self):
        super().run()
        origin = pathlib.Path(self.build_lib) / "vtr422" / "_origin.py"
        origin.write_text('"""Written when the package was built."""\n'
                          f"SOURCE_TREE = {str(TREE)!r}\n", encoding="utf-8")


setup(cmdclass={"build_py": BuildPy})
