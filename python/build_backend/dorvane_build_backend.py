"""The package's build backend: setuptools', run on a copy of the source in a temporary folder, so
that `pip install ./python` leaves no build/ or dorvane.egg-info/ behind in the source tree (pip
builds in the tree it is given, and setuptools writes both there). An editable install builds in
the tree, as it must.
"""
import contextlib
import os
import shutil
import tempfile

from setuptools import build_meta as _setuptools
from setuptools.build_meta import *  # noqa: F401,F403 (the hooks not wrapped here)


@contextlib.contextmanager
def _in_a_copy():
    """The current folder's source copied to a temporary folder, the current folder for the block."""
    source = os.getcwd()
    with tempfile.TemporaryDirectory(prefix="dorvane-build-") as scratch:
        copy = os.path.join(scratch, "source")
        shutil.copytree(source, copy, ignore=shutil.ignore_patterns("build", "dist", "*.egg-info", "__pycache__"))
        os.chdir(copy)
        try:
            yield
        finally:
            os.chdir(source)


def _elsewhere(hook):
    """`hook` run in a copy; the folder it writes into (pip's, outside the source) made absolute first."""
    def run(directory, *arguments, **keywords):
        directory = os.path.abspath(directory)
        with _in_a_copy():
            return hook(directory, *arguments, **keywords)
    run.__name__ = hook.__name__
    return run


build_wheel = _elsewhere(_setuptools.build_wheel)
build_sdist = _elsewhere(_setuptools.build_sdist)
prepare_metadata_for_build_wheel = _elsewhere(_setuptools.prepare_metadata_for_build_wheel)
