"""The wheel packs the extension and the library that CMake built (the
python_wheel target stages them beside this file); nothing is compiled here,
but the wheel is marked as one for this platform."""
from setuptools import setup
from setuptools.dist import Distribution


class BinaryDistribution(Distribution):
    def has_ext_modules(self):
        return True


setup(distclass=BinaryDistribution)
