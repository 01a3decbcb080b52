#!/usr/bin/env python3
"""Checks that the engine exports exactly the functions of its public header, undecorated.

The names declared with OSTREL_API in include/OstrelDAQEngine.h are the required list. The check
compares it with engine/OstrelDAQEngine.def and with the export table of each built library given:
the Linux shared object (nm -D), the Windows DLL (objdump -p) and its import libraries (nm). The
simulator's DLL must export none of the engine's names and the engine none of the simulator's, and
the engine must not be linked against the simulator or the driver-access library (it loads its
library at run time).

    check-exports.py [--so libOstrelDAQEngine.so] [--dll OstrelDAQEngine.dll]
                     [--implib libOstrelDAQEngine.dll.a ...] [--sim-dll OstrelBoardSim.dll]

Exits 1 and names every difference when one is found.
"""
import argparse
import pathlib
import re
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
HEADER = ROOT / "include" / "OstrelDAQEngine.h"
DEF_FILE = ROOT / "engine" / "OstrelDAQEngine.def"
MINGW = "x86_64-w64-mingw32-"

# Symbols the Linux toolchain puts into every shared object's dynamic table.
LINUX_TOOLCHAIN_SYMBOLS = {"_init", "_fini", "_edata", "_end", "__bss_start"}


def header_names():
    text = HEADER.read_text()
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)  # comments may mention function names
    text = re.sub(r"//[^\n]*", " ", text)
    text = re.sub(r"^\s*#[^\n]*", " ", text, flags=re.M)  # the OSTREL_API definitions
    names = re.findall(r"\bOSTREL_API\s+[\w\s\*]*?\b(\w+)\s*\(", text)
    duplicates = {name for name in names if names.count(name) > 1}
    if duplicates:
        sys.exit(f"{HEADER}: declared twice: {sorted(duplicates)}")
    return set(names)


def def_names():
    names = []
    library = None
    in_exports = False
    for raw in DEF_FILE.read_text().splitlines():
        line = raw.split(";", 1)[0].strip()
        if not line:
            continue
        keyword = line.split()[0].upper()
        if keyword == "LIBRARY":
            library = line.split()[1] if len(line.split()) > 1 else None
            continue
        if keyword == "EXPORTS":
            in_exports = True
            continue
        if in_exports:
            # "Name", "Name @ordinal", "Name=internal": the exported name is the first word.
            names.append(re.split(r"[\s=@]", line, maxsplit=1)[0])
    if library not in ("OstrelDAQEngine", "OstrelDAQEngine.dll"):
        sys.exit(f"{DEF_FILE}: LIBRARY is {library!r}, expected OstrelDAQEngine")
    return names


def run(command):
    result = subprocess.run(command, capture_output=True, text=True)
    if result.returncode != 0:
        sys.exit(f"{' '.join(command)} failed:\n{result.stderr}")
    return result.stdout


def so_exports(path):
    names = set()
    for line in run(["nm", "-D", "--defined-only", str(path)]).splitlines():
        fields = line.split()
        if len(fields) >= 3:
            names.add(fields[2].split("@", 1)[0])
    return names - LINUX_TOOLCHAIN_SYMBOLS


def dll_exports(path):
    """Names in the export table, and the DLL name the table records."""
    text = run([MINGW + "objdump", "-p", str(path)])
    dll_name = None
    match = re.search(r"^Name\s+\S+\s+(\S+)\s*$", text, flags=re.M)
    if match:
        dll_name = match.group(1)
    names = set()
    table = text.split("[Ordinal/Name Pointer] Table", 1)
    if len(table) == 2:
        for line in table[1].splitlines()[1:]:
            match = re.match(r"\s*\[\s*\d+\]\s+(\S+)\s*$", line)
            if not match:
                break
            names.add(match.group(1))
    return names, dll_name


# The engine binds its driver-access library at run time; a link-time dependency on the simulator
# or on the library would reach the simulated boards, or nothing, whatever the user asks for.
FORBIDDEN_DEPENDENCIES = ("ostrelboardsim", "wdapi")


def dependencies(path, windows):
    if windows:
        text = run([MINGW + "objdump", "-p", str(path)])
        return re.findall(r"DLL Name:\s*(\S+)", text)
    text = run(["objdump", "-p", str(path)])
    return re.findall(r"^\s*NEEDED\s+(\S+)", text, flags=re.M)


def check_dependencies(path, windows, problems):
    needed = dependencies(path, windows)
    linked = [name for name in needed
              if any(word in name.lower() for word in FORBIDDEN_DEPENDENCIES)]
    if linked:
        problems.append(f"{path}: linked against {' '.join(linked)}; the engine must load its "
                        f"driver-access library at run time")
    else:
        print(f"{path}: needs {' '.join(needed) or 'nothing'}; no driver-access library linked")


def implib_exports(path):
    names = set()
    for line in run([MINGW + "nm", str(path)]).splitlines():
        match = re.match(r"^[0-9a-fA-F]*\s+I\s+__imp_(\w+)$", line.strip())
        if match:
            names.add(match.group(1))
    return names


def compare(label, required, found, problems):
    missing = sorted(required - found)
    extra = sorted(found - required)
    if missing:
        problems.append(f"{label}: missing {len(missing)}: {' '.join(missing)}")
    if extra:
        problems.append(f"{label}: not in the header {len(extra)}: {' '.join(extra)}")
    if not missing and not extra:
        print(f"{label}: {len(found)} exports, as the header")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--so", type=pathlib.Path)
    parser.add_argument("--dll", type=pathlib.Path)
    parser.add_argument("--implib", type=pathlib.Path, action="append", default=[])
    parser.add_argument("--sim-dll", type=pathlib.Path)
    arguments = parser.parse_args()

    problems = []
    required = header_names()
    if not required:
        sys.exit(f"{HEADER}: no OSTREL_API declarations found")
    print(f"{HEADER.relative_to(ROOT)}: {len(required)} exports")

    listed = def_names()
    repeated = sorted({name for name in listed if listed.count(name) > 1})
    if repeated:
        problems.append(f"{DEF_FILE.relative_to(ROOT)}: listed twice: {' '.join(repeated)}")
    compare(str(DEF_FILE.relative_to(ROOT)), required, set(listed), problems)

    if arguments.so:
        compare(str(arguments.so), required, so_exports(arguments.so), problems)
        check_dependencies(arguments.so, False, problems)
    if arguments.dll:
        names, dll_name = dll_exports(arguments.dll)
        compare(str(arguments.dll), required, names, problems)
        if dll_name != "OstrelDAQEngine.dll":
            problems.append(f"{arguments.dll}: export table names the DLL {dll_name!r}")
        check_dependencies(arguments.dll, True, problems)
    for implib in arguments.implib:
        compare(str(implib), required, implib_exports(implib), problems)
    if arguments.sim_dll:
        names, _ = dll_exports(arguments.sim_dll)
        overlap = sorted(names & required)
        if overlap:
            problems.append(f"{arguments.sim_dll}: exports engine names: {' '.join(overlap)}")
        if not any(name.startswith("SIM_") for name in names):
            problems.append(f"{arguments.sim_dll}: exports no SIM_ function")
        else:
            print(f"{arguments.sim_dll}: {len(names)} exports, none of the engine's")

    for problem in problems:
        print("ERROR " + problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
