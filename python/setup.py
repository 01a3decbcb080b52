"""The wheel carries the native libraries in ostrel/lib (put there by scripts/install-python.sh),
so it is a platform wheel, not a pure-Python one."""
from setuptools import setup
from setuptools.dist import Distribution


class NativeDistribution(Distribution):
    def has_ext_modules(self):
        return True


setup(distclass=NativeDistribution)
