"""The version of the nolt package, written here once.

The build reads it from here into the distribution's metadata; ``nolt.__version__`` and
``nolt --version`` import it. The native core's ``_nolt_core.version()`` is the version of
the core's own contract and moves independently of this one.
"""

__version__ = "0.5.0"
