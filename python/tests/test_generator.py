import math

import numpy as np
import pytest

import ostrel
from ostrel import sim

MODEL9_CHANNEL0 = 0x8084000


def test_generator_parameters_round_trip_through_waveform_memory():
    sim.set_boards(["A006"])
    with ostrel.Board(0) as board:
        assert len(board.generator) == 2
        channel = board.generator[0]
        channel.configure("square", duty_cycle=0.3, amplitude=4.75)
        assert channel.waveform == "square"
        assert channel.duty_cycle == pytest.approx(0.3)
        memory = sim.waveform_memory(0, MODEL9_CHANNEL0)
        assert (memory[:2457] == 0x3FFF).all() and (memory[2457:] == 0).all()
        channel.frequency = 10e6
        assert channel.frequency == 10e6
        assert sim.peek_register(0, -2026) == 273
        assert sim.peek_register(0, -2024) == 0x11111111


def test_generator_channel_out_of_range():
    sim.set_boards(["A006"])
    with ostrel.Board(0) as board:
        with pytest.raises(IndexError):
            board.generator[2]


def test_board_without_generator_has_no_channels():
    sim.set_boards(["A001"])
    with ostrel.Board(0) as board:
        assert board.generator.channel_count == 0


def test_enable_and_sync_drive_the_output_mask():
    sim.set_boards(["A002"])
    with ostrel.Board(0) as board:
        board.generator[1].enable(False)
        assert sim.peek_register(0, -2022) == 2
        board.generator.sync()
        assert sim.peek_register(0, -2022) == 0
