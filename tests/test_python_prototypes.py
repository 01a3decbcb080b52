#!/usr/bin/env python3
"""The ctypes prototypes of the Python package agree with the C headers.

python/ostrel/_library.py gives every export of include/OstrelDAQEngine.h (and the SIM_* calls it
uses from platform/sim/OstrelBoardSim.h) a restype and argtypes by hand. A prototype that
disagrees with its declaration does not fail to load: it passes a float where the library reads a
double, or truncates a 64-bit value, silently. This check reads both headers, loads the prototype
table the way the package binds it (with the native libraries stood in for, so that no build of
them is needed), and names every difference:

- an engine export without a prototype, or a prototype of a name the header does not declare;
- a SIM_* prototype of a name the simulator header does not declare;
- a result or argument type that differs (a pointer argument may be declared c_void_p);
- a structure of a header whose Python class of the same name lists other fields, in another
  order or of other types (the library reads and writes it by offset).

    test_python_prototypes.py [--root REPOSITORY]

Exits 1 and lists every difference when one is found.
"""
import argparse
import ctypes
import ctypes.util
import os
import pathlib
import re
import runpy
import sys
import tempfile
import types

SCALARS = {
    "void": None,
    "int": ctypes.c_int,
    "char": ctypes.c_char,
    "int8_t": ctypes.c_int8,
    "uint8_t": ctypes.c_uint8,
    "int16_t": ctypes.c_int16,
    "uint16_t": ctypes.c_uint16,
    "int32_t": ctypes.c_int32,
    "uint32_t": ctypes.c_uint32,
    "int64_t": ctypes.c_int64,
    "uint64_t": ctypes.c_uint64,
    "float": ctypes.c_float,
    "double": ctypes.c_double,
}


def strip_header(text):
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    text = re.sub(r"//[^\n]*", " ", text)
    return re.sub(r"^\s*#[^\n]*", " ", text, flags=re.M)


def declarations(path, macro):
    """name -> (result type text, [argument type texts]) of every function declared with macro."""
    text = strip_header(path.read_text())
    found = {}
    pattern = re.compile(r"\b" + macro + r"\s+([\w\s\*]+?)\s*\b(\w+)\s*\(([^)]*)\)")
    for result, name, arguments in pattern.findall(text):
        if name in found:
            sys.exit(f"{path}: {name} declared twice")
        found[name] = (normal(result), [normal(drop_name(a)) for a in split(arguments)])
    return found


def split(arguments):
    arguments = arguments.strip()
    if arguments in ("", "void"):
        return []
    return [a.strip() for a in arguments.split(",")]


def drop_name(argument):
    """'const int16_t *samples' -> 'const int16_t *'; 'int32_t count' -> 'int32_t'."""
    match = re.fullmatch(r"(.*?[\s\*])(\w+)", argument.strip())
    if not match or match.group(1).strip() == "":
        return argument
    return match.group(1)


def normal(type_text):
    """Type text with const dropped and the stars gathered: 'const int16_t *' -> 'int16_t*'."""
    words = type_text.replace("*", " * ").split()
    words = [w for w in words if w != "const"]
    stars = words.count("*")
    base = " ".join(w for w in words if w != "*")
    return base + "*" * stars


def structures(path):
    """name -> [(field name, type text)] of every 'typedef struct NAME { ... } NAME;'."""
    text = strip_header(path.read_text())
    found = {}
    pattern = re.compile(r"typedef\s+struct\s+(\w+)\s*\{([^}]*)\}\s*(\w+)\s*;")
    for tag, body, name in pattern.findall(text):
        fields = []
        for declaration in body.split(";"):
            declaration = declaration.strip()
            if not declaration:
                continue
            # 'int a, b' declares two fields of one type.
            match = re.fullmatch(r"([\w\s\*]*?[\s\*])(\w+(?:\s*,\s*\w+)*)", declaration)
            if not match:
                sys.exit(f"{path}: cannot read the field '{declaration}' of {name}")
            for field in match.group(2).split(","):
                fields.append((field.strip(), normal(match.group(1))))
        found[name] = fields
    return found


def compare_structures(header_name, declared, module, problems):
    """Every ctypes.Structure of the module named like a structure of the header has its fields."""
    for name, value in sorted(vars(module).items()):
        if not (isinstance(value, type) and issubclass(value, ctypes.Structure)):
            continue
        if name not in declared:
            continue
        python_fields = [(field[0], field[1]) for field in value._fields_]
        header_fields = declared[name]
        if [field for field, _ in python_fields] != [field for field, _ in header_fields]:
            problems.append(f"{name}: fields {[f for f, _ in header_fields]} in {header_name}, "
                            f"{[f for f, _ in python_fields]} in Python")
            continue
        for (field, text), (_, ctype) in zip(header_fields, python_fields):
            ok, note = matches(text, ctype, False)
            if not ok:
                problems.append(f"{name}: field {field} is {text} in {header_name}, "
                                f"{describe(ctype)} in Python" + (f" ({note})" if note else ""))


def describe(ctype):
    if ctype is None:
        return "None"
    if isinstance(ctype, type) and issubclass(ctype, ctypes._Pointer):
        return f"POINTER({describe(ctype._type_)})"
    return getattr(ctype, "__name__", repr(ctype))


def matches(declared, ctype, is_argument):
    """Whether a ctypes type fits a C type text of the header."""
    stars = len(declared) - len(declared.rstrip("*"))
    base = declared.rstrip("*")
    if stars == 0:
        if base not in SCALARS:
            return False, f"type {declared} unknown to this check"
        return SCALARS[base] is ctype, None
    # Pointers: any data pointer may travel as c_void_p; char* also as c_char_p.
    if is_argument and ctype is ctypes.c_void_p:
        return True, None
    if stars == 1 and base == "char" and ctype is ctypes.c_char_p:
        return True, None
    if stars == 1 and base == "void":
        return ctype is ctypes.c_void_p, None
    if not (isinstance(ctype, type) and issubclass(ctype, ctypes._Pointer)):
        return False, None
    pointee = ctype._type_
    if stars > 1:
        return matches(declared[:-1], pointee, False)
    if base in SCALARS:
        return SCALARS[base] is pointee, None
    # A structure of the header: the Python class of the same name.
    return getattr(pointee, "__name__", None) == base, None


class _Function:
    """Stands for a native function: remembers the restype and argtypes the package gives it."""

    def __init__(self, name):
        self.__name__ = name
        self.restype = ctypes.c_int
        self.argtypes = None


class _Library:
    def __init__(self, *args, **kwargs):
        self._functions = {}

    def __getattr__(self, name):
        if name.startswith("_"):
            raise AttributeError(name)
        return self._functions.setdefault(name, _Function(name))


def load_prototypes(module_path):
    """Runs the package's loader with the native libraries stood in for; returns the module."""
    real_cdll, real_find = ctypes.CDLL, ctypes.util.find_library
    ctypes.CDLL = _Library
    ctypes.util.find_library = lambda name: None
    try:
        with tempfile.TemporaryDirectory() as nowhere:
            previous = os.environ.get("OSTREL_LIBRARY_DIR")
            os.environ["OSTREL_LIBRARY_DIR"] = nowhere
            try:
                module = types.SimpleNamespace(**runpy.run_path(str(module_path)))
            finally:
                if previous is None:
                    del os.environ["OSTREL_LIBRARY_DIR"]
                else:
                    os.environ["OSTREL_LIBRARY_DIR"] = previous
    finally:
        ctypes.CDLL, ctypes.util.find_library = real_cdll, real_find
    return module


def compare(header_name, declared, library, prototype_names, problems, every_export):
    if every_export:
        for name in sorted(set(declared) - set(prototype_names)):
            problems.append(f"{name}: declared in {header_name}, no Python prototype")
    for name in sorted(prototype_names):
        if name not in declared:
            problems.append(f"{name}: Python prototype, not declared in {header_name}")
            continue
        result, arguments = declared[name]
        function = getattr(library, name)
        ok, note = matches(result, function.restype, False)
        if not ok:
            problems.append(f"{name}: result {result} in {header_name}, restype "
                            f"{describe(function.restype)} in Python" + (f" ({note})" if note else ""))
        bound = list(function.argtypes or [])
        if len(bound) != len(arguments):
            problems.append(f"{name}: {len(arguments)} arguments in {header_name} "
                            f"({', '.join(arguments) or 'none'}), {len(bound)} in Python "
                            f"({', '.join(describe(t) for t in bound) or 'none'})")
            continue
        for position, (text, ctype) in enumerate(zip(arguments, bound)):
            ok, note = matches(text, ctype, True)
            if not ok:
                problems.append(f"{name}: argument {position} is {text} in {header_name}, "
                                f"{describe(ctype)} in Python" + (f" ({note})" if note else ""))


def problems_of(root):
    engine_header = root / "include" / "OstrelDAQEngine.h"
    sim_header = root / "platform" / "sim" / "OstrelBoardSim.h"
    module = load_prototypes(root / "python" / "ostrel" / "_library.py")
    problems = []
    engine_declared = declarations(engine_header, "OSTREL_API")
    if len(engine_declared) < 70:
        problems.append(f"only {len(engine_declared)} exports read from {engine_header}")
    compare("OstrelDAQEngine.h", engine_declared, module.engine,
            module._ENGINE_PROTOTYPES, problems, every_export=True)
    engine_structures = structures(engine_header)
    if "DAQ_FrameInfo" in engine_structures and "DAQ_FrameInfo" not in vars(module):
        problems.append("DAQ_FrameInfo: declared in OstrelDAQEngine.h, no Python structure")
    compare_structures("OstrelDAQEngine.h", engine_structures, module, problems)
    # The package loads the simulator only when asked for simulated boards; load it the same way.
    real_cdll = ctypes.CDLL
    ctypes.CDLL = _Library
    try:
        sim = module._load(module._SIM, ctypes.RTLD_GLOBAL)
    finally:
        ctypes.CDLL = real_cdll
    module._bind(sim, module._SIM_PROTOTYPES)
    compare("OstrelBoardSim.h", declarations(sim_header, "SIM_API"), sim,
            module._SIM_PROTOTYPES, problems, every_export=False)
    compare_structures("OstrelBoardSim.h", structures(sim_header), module, problems)
    return problems, module


# Faults planted one at a time into copies of the files: (file, text, replacement, the name the
# check must then report). A fault whose text is no longer in the file is skipped.
PLANTED = [
    ("python/ostrel/_library.py", '"AWG_SetFrequency": (i32, [i32, f64])',
     '"AWG_SetFrequency": (i32, [i32, f32])', "AWG_SetFrequency"),
    ("python/ostrel/_library.py", '"TestFunction": (u32, [u32])',
     '"TestFunction": (i32, [u32])', "TestFunction"),
    ("python/ostrel/_library.py", '"DAQ_CopyDMAPool": (i32, [ctypes.c_void_p]),', "",
     "DAQ_CopyDMAPool"),
    ("python/ostrel/_library.py", '"DAQ_CheckSamplingRates": (i32, [i32, P(f32), P(i32)])',
     '"DAQ_CheckSamplingRates": (i32, [i32, P(f32)])', "DAQ_CheckSamplingRates"),
    ("python/ostrel/_library.py", '"SIM_GetDroppedDmaWrites": (u64, [_int])',
     '"SIM_GetDroppedDmaWrites": (u32, [_int])', "SIM_GetDroppedDmaWrites"),
    ("include/OstrelDAQEngine.h", "DAQ_GetDMAInfo(int16_t *trailerPoints",
     "DAQ_GetDMAInfo(int32_t *trailerPoints", "DAQ_GetDMAInfo"),
    ("python/ostrel/_library.py", '("frameSequence", u64)', '("frameSequence", u32)',
     "DAQ_FrameInfo"),
    ("python/ostrel/_library.py", '("recordsExpected", u32), ("recordsValid", u32)',
     '("recordsValid", u32), ("recordsExpected", u32)', "DAQ_FrameInfo"),
    ("include/OstrelDAQEngine.h", "int64_t completedNs;", "uint64_t completedNs;",
     "DAQ_FrameInfo"),
    ("python/ostrel/_library.py", '("width", u32)', '("width", u64)', "SimAccess"),
]
FILES = ["python/ostrel/_library.py", "include/OstrelDAQEngine.h", "platform/sim/OstrelBoardSim.h"]


def planted_faults_found(root):
    """Every planted fault is reported; returns the faults the check missed."""
    missed, tried = [], 0
    for target, text, replacement, name in PLANTED:
        original = (root / target).read_text()
        if text not in original:
            continue
        tried += 1
        with tempfile.TemporaryDirectory() as copy:
            copy = pathlib.Path(copy)
            for relative in FILES:
                (copy / relative).parent.mkdir(parents=True, exist_ok=True)
                (copy / relative).write_text((root / relative).read_text())
            (copy / target).write_text(original.replace(text, replacement, 1))
            problems, _ = problems_of(copy)
            if not any(problem.startswith(name + ":") for problem in problems):
                missed.append(f"{target}: {text!r} -> {replacement!r} went unnoticed")
    if tried < 3:
        missed.append(f"only {tried} planted faults still apply; update PLANTED")
    return missed


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", type=pathlib.Path,
                        default=pathlib.Path(__file__).resolve().parent.parent)
    root = parser.parse_args().root
    problems, module = problems_of(root)
    if problems:
        print("Python prototypes disagree with the headers:", file=sys.stderr)
        for problem in problems:
            print("  " + problem, file=sys.stderr)
        return 1
    missed = planted_faults_found(root)
    if missed:
        print("The check itself misses faults:", file=sys.stderr)
        for fault in missed:
            print("  " + fault, file=sys.stderr)
        return 1
    print(f"{len(module._ENGINE_PROTOTYPES)} engine and {len(module._SIM_PROTOTYPES)} simulator "
          f"prototypes agree with the headers; {len(PLANTED)} planted faults all found")
    return 0


if __name__ == "__main__":
    sys.exit(main())
