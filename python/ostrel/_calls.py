"""Small helpers that call an export and turn its out arguments into Python values. Every call
holds the library's lock (the engine is a one-thread library)."""
import ctypes

from . import _library
from .errors import check


def call(name, *arguments):
    """Calls an engine export; raises DAQError when it refuses."""
    with _library.lock:
        return check(name, getattr(_library.engine, name)(*arguments))


def raw(name, *arguments):
    """Calls an engine export and returns its result as it is."""
    with _library.lock:
        return getattr(_library.engine, name)(*arguments)


def get(name, ctype, *leading):
    """Calls a getter export whose last argument is one out value, and returns that value."""
    value = ctype()
    call(name, *leading, ctypes.byref(value))
    return value.value


def get_many(name, ctypes_list, *leading):
    values = [ctype() for ctype in ctypes_list]
    call(name, *leading, *[ctypes.byref(value) for value in values])
    return tuple(value.value for value in values)
