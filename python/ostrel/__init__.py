"""Python interface to the Ostrel digitizer boards through OstrelDAQEngine.

    import ostrel
    print(ostrel.boards())
    with ostrel.Board(0) as board:
        board.configure(record_length=1024, record_number=64)
        frames = board.acquire(frames=10)      # numpy array (10, lanes, points), consecutive
        with board.stream(ring_frames=64, on_loss="raise") as stream:
            for frame in stream:               # every frame in order, until the stream stops
                print(frame.sequence, frame.time_ns, frame.mean(axis=1))
"""
from . import sim
from .board import Board, Lane, boards
from .errors import (DAQError, FrameLossError, FrameLossWarning, FrameOverflowError,
                     FrameTimeoutError)
from .generator import WAVEFORMS, Channel, Generator
from .stream import Frame, FrameInfo, Stream

__all__ = ["Board", "Lane", "boards", "DAQError", "FrameLossError", "FrameLossWarning",
           "FrameOverflowError", "FrameTimeoutError", "Frame", "FrameInfo", "Stream", "Channel",
           "Generator", "WAVEFORMS", "sim"]
__version__ = "0.1.0"
