"""Scripting of the simulated bench (OstrelBoardSim): boards, faults, signals, pacing.

Using any of these functions asks for simulated boards: the simulator is loaded then, and the
engine reaches the simulated bus instead of real boards for the rest of the process. Without
them (and without OSTREL_SIMULATE or Board(..., simulate=...)) the package drives real boards."""
import ctypes
import enum

import numpy as np

from . import _library



class _Simulator:
    """The simulator library, loaded at the first call of one of its functions."""

    def __getattr__(self, name):
        return getattr(_library.load_sim(), name)


_sim = _Simulator()


class Fault(enum.IntEnum):
    DEBUG_OPTIONS = 1
    DRIVER_OPEN = 2
    DRIVER_CLOSE = 3
    SCAN = 4
    DEVICE_INFO = 5
    DEVICE_OPEN = 6
    DEVICE_CLOSE = 7
    DMA_LOCK = 8
    CONTROL_DEVICE = 9
    DMA_STALL = 10


class Resource(enum.IntEnum):
    DRIVER_OPEN = 1
    DEVICE_HANDLES = 2
    DMA_BUFFERS = 3
    CONTROL_DEVICE = 4


class Pacing(enum.IntEnum):
    IMMEDIATE = 0
    REALTIME = 1
    MAXRATE = 2


def _ok(name, result):
    if result < 0:
        raise ValueError(f"SIM_{name} refused its arguments ({result})")
    return result


def reset():
    """Power-on state; only while nothing is open."""
    _sim.SIM_Reset()


def set_boards(device_ids):
    ids = [int(str(i), 16) if isinstance(i, str) else int(i) for i in device_ids]
    array = (ctypes.c_uint32 * max(1, len(ids)))(*ids)
    _ok("SetBoards", _sim.SIM_SetBoards(array, len(ids)))


def set_config_word(board, word):
    _ok("SetConfigWord", _sim.SIM_SetConfigWord(board, word))


def set_fault(fault, status=0x20000000):
    """Makes an operation fail with status until cleared with status 0."""
    _ok("SetFault", _sim.SIM_SetFault(int(fault), status))


def clear_fault(fault):
    set_fault(fault, 0)


def peek_register(board, index):
    return _sim.SIM_PeekRegister(board, index)


def poke_register(board, index, value):
    _ok("PokeRegister", _sim.SIM_PokeRegister(board, index, value & 0xFFFFFFFF))


def peek_bar(board, bar, offset, width=4):
    return _sim.SIM_PeekBar(board, bar, offset, width)


def waveform_memory(board, address, points=8192):
    """Reads a generator waveform memory as uint16 points."""
    return np.array([_sim.SIM_PeekBar(board, 0, address + 2 * p, 2) for p in range(points)],
                    dtype=np.uint16)


def access_log(enabled=None, clear=False, max_entries=100000):
    """Turns the access log on or off, or returns its entries as tuples."""
    if clear:
        _sim.SIM_ClearAccessLog()
    if enabled is not None:
        _sim.SIM_SetAccessLog(1 if enabled else 0)
        return None
    entries = (_library.SimAccess * max_entries)()
    count = _sim.SIM_GetAccessLog(entries, max_entries)
    return [(e.board, e.space, e.offset, e.width, bool(e.write), e.value)
            for e in entries[:count]]


def call_count(operation):
    return _sim.SIM_GetCallCount(operation.encode())


def resource_count(resource):
    return _ok("GetResourceCount", _sim.SIM_GetResourceCount(int(resource)))


def front_end(board, input_index):
    """The board's own decoding of one input's front end, as a dict."""
    value = _library.SimFrontEnd()
    _ok("GetFrontEnd", _sim.SIM_GetFrontEnd(board, input_index, ctypes.byref(value)))
    return {name: getattr(value, name) for name, _ in value._fields_}


def set_dma_pacing(mode):
    _ok("SetDmaPacing", _sim.SIM_SetDmaPacing(int(mode)))


def set_input_signal(board, input_index, dc=0.0, amplitude=0.0, frequency=0.0, noise=0.0):
    """Signal in ADC codes at one input: 8192 + zero error + dc + amplitude sin(2 pi f t) + noise."""
    _ok("SetInputSignal", _sim.SIM_SetInputSignal(board, input_index, dc, amplitude, frequency,
                                                  noise))


def set_zero_error(board, input_index, coupling, termination, gain, attenuation, codes):
    _ok("SetZeroError", _sim.SIM_SetZeroError(board, input_index, coupling, termination, gain,
                                              attenuation, codes))


def skip_records(board, count):
    _ok("SkipRecords", _sim.SIM_SkipRecords(board, count))


def dropped_dma_writes(board):
    return _sim.SIM_GetDroppedDmaWrites(board)


def write_dma_buffer(offset, data):
    block = np.ascontiguousarray(np.frombuffer(bytes(data), dtype=np.uint8)
                                 if not isinstance(data, np.ndarray) else data)
    _ok("WriteDmaBuffer", _sim.SIM_WriteDmaBuffer(offset, block.ctypes.data, block.nbytes))


def set_loopback(board, enabled=True):
    _ok("SetLoopback", _sim.SIM_SetLoopback(board, 1 if enabled else 0))
