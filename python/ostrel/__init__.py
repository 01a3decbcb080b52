"""Python interface to the Ostrel digitizer boards through OstrelDAQEngine.

    import ostrel
    print(ostrel.boards())
    with ostrel.Board(0) as board:
        board.configure(record_length=1024, record_number=64)
        frames = board.acquire(frames=10)      # numpy array (10, lanes, points)
"""
from . import sim
from .board import Board, Lane, boards
from .errors import DAQError
from .generator import WAVEFORMS, Channel, Generator

__all__ = ["Board", "Lane", "boards", "DAQError", "Channel", "Generator", "WAVEFORMS", "sim"]
__version__ = "0.1.0"
