# SPDX-License-Identifier: MIT
# A plain setup.py (no pyproject.toml): pip then builds with the setuptools
# already installed instead of fetching one, so `pip install ./python` works
# offline.
from setuptools import setup

setup(
    name="corvane",
    version="0.2.0",
    description="The Corvane USB I2C/SMBus bridge from Python: ctypes over libcorvane, "
    "an smbus2-compatible SMBus class and a simulated chip",
    long_description=open("README.md", encoding="utf-8").read(),
    packages=["corvane"],
    # The Windows release puts corvane.dll and corvane_sim.dll into the package.
    package_data={"corvane": ["*.dll", "py.typed"]},
    python_requires=">=3.8",
    license="MIT",
    license_files=["LICENSE"],
    classifiers=["License :: OSI Approved :: MIT License"],
)
