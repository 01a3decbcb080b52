import pytest

import ostrel
from ostrel import sim


def test_faults_are_scriptable():
    sim.set_fault(sim.Fault.DMA_LOCK, 0x20000013)
    with pytest.raises(ostrel.DAQError) as caught:
        ostrel.Board(0)
    assert caught.value.result == -4
    sim.clear_fault(sim.Fault.DMA_LOCK)
    with ostrel.Board(0):
        assert sim.resource_count(sim.Resource.DMA_BUFFERS) == 1


def test_access_log_records_register_writes():
    with ostrel.Board(0) as board:
        sim.access_log(enabled=True, clear=True)
        board.write_register(-2040, 7)
        entries = sim.access_log()
        assert (0, 0, 0x8000000 - 4080, 4, True, 7) in entries
        assert board.read_register(-2040) == 7


def test_bad_simulator_arguments_raise():
    with pytest.raises(ValueError):
        sim.set_boards(["A001"] * 65)
    with pytest.raises(ValueError):
        sim.set_dma_pacing(7)
