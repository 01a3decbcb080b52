import numpy as np
import pytest

import ostrel
from ostrel import sim


def test_boards_lists_the_simulated_bus():
    sim.set_boards(["A006", "A001", "A005"])
    listed = ostrel.boards()
    assert [(b["device_id"], b["model"], b["bus"]) for b in listed] == [
        (0xA006, 9, 1), (0xA001, 5, 2), (0xA005, 8, 3)]
    assert all(b["vendor_id"] == 0x1172 for b in listed)
    assert all(b["simulated"] and "OstrelBoardSim" in b["library"] for b in listed)
    assert sim.resource_count(sim.Resource.DRIVER_OPEN) == 0


@pytest.mark.parametrize("simulate, model", [("A001", 5), ("A005,A006", 8), (["A004"], 7),
                                             (0xA006, 9)])
def test_board_simulate_puts_those_boards_on_the_bus(simulate, model):
    with ostrel.Board(0, simulate=simulate) as board:
        assert board.model == model and board.simulated


@pytest.mark.parametrize("simulate", ["", "A006,,A001", "XYZ", []])
def test_board_simulate_refuses_bad_device_ids(simulate):
    with pytest.raises(ValueError):
        ostrel.Board(0, simulate=simulate)
    assert ostrel.Board._open_board is None


def test_board_opens_and_always_closes():
    sim.set_boards(["A005"])
    with pytest.raises(RuntimeError):
        with ostrel.Board(0) as board:
            assert board.model == 8 and board.lane_count == 4
            assert sim.resource_count(sim.Resource.DEVICE_HANDLES) == 1
            raise RuntimeError("leave the block")
    assert sim.resource_count(sim.Resource.DEVICE_HANDLES) == 0
    assert sim.resource_count(sim.Resource.DMA_BUFFERS) == 0


@pytest.mark.parametrize("index", [1, -1, 15])
def test_board_index_outside_the_bus_raises(index):
    sim.set_boards(["A006"])
    with pytest.raises(ostrel.DAQError) as caught:
        ostrel.Board(index)
    assert caught.value.function == "DAQ_OpenDevice" and caught.value.result == -1


def test_open_failure_carries_the_export_result():
    sim.set_config_word(0, 0x11800008)
    with pytest.raises(ostrel.DAQError) as caught:
        ostrel.Board(0)
    assert caught.value.result == -2
    assert sim.resource_count(sim.Resource.DEVICE_HANDLES) == 0


def test_model_parameters_and_settings_round_trip():
    sim.set_boards(["A001"])
    with ostrel.Board(0) as board:
        assert board.max_record_length == 16384
        assert board.sampling_rates[:3] == pytest.approx([50, 40, 30])
        board.record_length = 1024
        assert board.record_length == 1024
        assert board.records_in_memory == 39
        board.clock_divider = 3
        assert board.clock_divider == 3 and board.sampling_rate == pytest.approx(25)
        board.trigger = 5
        assert board.trigger == 5
        board.lane(0).gain = 2
        assert board.lane(0).gain == 2
        assert sim.front_end(0, 0)["gain"] == 2
        assert (board.gain_count, board.attenuation_count) == (3, 2)


def test_refusal_raises_daq_error_with_name_and_result():
    with ostrel.Board(0) as board:
        # A length below the minimum is refused before it reaches the engine, with the range.
        with pytest.raises(ValueError, match="record_length must be a whole number >= 32"):
            board.configure(record_length=16, record_number=8)
        with pytest.raises(ostrel.DAQError) as caught:
            board.measure(np.zeros(0, dtype=np.int16))
        assert caught.value.function == "DAQ_MeasureSignal"
        assert caught.value.result < 0


def test_measure_worked_values():
    with ostrel.Board(0) as board:
        peak, mean, rms = board.measure([100, -100])
        volts_per_code = 1 / 4660
        assert peak == pytest.approx(200 * volts_per_code, rel=1e-6)
        assert mean == 0
        assert rms == pytest.approx(100 * volts_per_code, rel=1e-6)
