"""Which library the package reaches the boards through. Each case runs in a fresh interpreter:
the engine chooses its library once per process, and these tests' own process has asked for the
simulator (conftest.py)."""
import json
import os
import subprocess
import sys

import pytest

# Prints what boards() gives, or the error it raises, as JSON.
_PROBE = """
import json, ostrel
from ostrel import _library
loaded_at_import = _library._sim is not None
try:
    listed = ostrel.boards()
    result = {"boards": [[b["device_id"], b["simulated"], b["library"]] for b in listed]}
except ostrel.DAQError as error:
    result = {"error": str(error), "result": error.result}
result["sim_loaded_at_import"] = loaded_at_import
try:
    ostrel.sim.reset()
    result["sim_usable"] = True
except RuntimeError as error:
    result["sim_usable"] = str(error)
print(json.dumps(result))
"""


def _probe(**variables):
    environment = {k: v for k, v in os.environ.items()
                   if k not in ("OSTREL_SIMULATE", "OSTREL_DRIVER_LIBRARY", "OSTREL_SIM_BOARDS")}
    environment.update(variables)
    done = subprocess.run([sys.executable, "-c", _PROBE], capture_output=True, text=True,
                          timeout=120, env=environment)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


def test_without_a_library_or_a_request_the_error_says_what_to_do():
    found = _probe()
    assert not found["sim_loaded_at_import"]
    assert found["result"] == -1
    for mention in ("libwdapi1180.so", "OSTREL_DRIVER_LIBRARY", "OSTREL_SIMULATE="):
        assert mention in found["error"], found["error"]
    # Nothing was bound, so asking for the simulator afterwards still works.
    assert found["sim_usable"] is True


def test_simulate_variable_gives_exactly_those_boards_labelled_simulated():
    found = _probe(OSTREL_SIMULATE="A005,A001")
    assert [board[:2] for board in found["boards"]] == [[0xA005, True], [0xA001, True]]
    assert "OstrelBoardSim" in found["boards"][0][2]


def test_named_library_is_real_and_keeps_the_simulator_out():
    standin = os.environ.get("OSTREL_STANDIN_LIBRARY")
    if not standin:
        pytest.skip("OSTREL_STANDIN_LIBRARY is not set (run through ctest)")
    found = _probe(OSTREL_DRIVER_LIBRARY=standin, OSTREL_SIM_BOARDS="A006,A002")
    assert found["boards"] == [[0xA006, False, standin], [0xA002, False, standin]]
    assert "already drives real boards" in found["sim_usable"]
