"""Every test starts from the simulator's power-on state, in its own working directory (the
card-data file lives in the current one), with nothing open."""
import os

import pytest

import ostrel
from ostrel import _library


@pytest.fixture(autouse=True)
def fresh_bench(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    _library.engine.DAQ_CloseDevice() if ostrel.Board._open_board else None
    ostrel.sim.reset()
    yield
    if ostrel.Board._open_board is not None:
        ostrel.Board._open_board.close()
    ostrel.sim.reset()


@pytest.fixture
def tool():
    path = os.environ.get("OSTREL_DAQ_TOOL")
    if not path:
        pytest.skip("OSTREL_DAQ_TOOL is not set (run through ctest)")
    return path
