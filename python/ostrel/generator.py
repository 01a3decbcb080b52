"""The two-channel waveform generator of models 6 and 9."""
import ctypes
import math
import numbers

from . import _library
from ._calls import call, get

WAVEFORMS = {"sine": 0, "square": 1, "triangle": 2}
_NAMES = {code: name for name, code in WAVEFORMS.items()}

#: Amplitude (and offset) unit: an amplitude of 4.75 spans the whole code range, an offset of
#: 4.75 moves the waveform by the whole range. amplitude + 2 x |offset| must stay within it.
FULL_SCALE = 4.75
#: Highest frequency played: half the 300 MHz generator clock.
MAX_FREQUENCY_HZ = 150e6


def _real(name, value, low, high):
    if isinstance(value, bool) or not isinstance(value, numbers.Real) or not (
            math.isfinite(float(value)) and low <= float(value) <= high):
        raise ValueError(f"{name} must lie in {low:g}..{high:g}, not {value!r}")
    return float(value)


class Channel:
    """One generator channel. Amplitude 4.75 spans the full code range; phase in radians;
    frequency in Hz."""

    def __init__(self, board, index):
        self._board = board
        self.index = index

    def _getf(self, name):
        self._board._require_open()
        return get(f"AWG_Get{name}", ctypes.c_float, self.index)

    def _setf(self, name, value):
        self._board._require_open()
        call(f"AWG_Set{name}", self.index, float(value))

    def _set_amplitude(self, value):
        with _library.lock:
            offset = abs(self._getf("Offset"))
            _real("amplitude", value, 0.0, FULL_SCALE - 2 * offset)
            self._setf("Amplitude", value)

    def _set_offset(self, value):
        with _library.lock:
            limit = (FULL_SCALE - self._getf("Amplitude")) / 2
            _real("offset", value, -limit, limit)
            self._setf("Offset", value)

    amplitude = property(lambda self: self._getf("Amplitude"), _set_amplitude,
                         doc="0..4.75 - 2 x |offset| (4.75 spans the whole code range)")
    offset = property(lambda self: self._getf("Offset"), _set_offset,
                      doc="within +-(4.75 - amplitude) / 2")
    phase = property(lambda self: self._getf("Phase"),
                     lambda self, v: self._setf("Phase", _real("phase", v, -2 * math.pi,
                                                               2 * math.pi)),
                     doc="radians, -2 pi..2 pi")
    duty_cycle = property(lambda self: self._getf("Dutycycle"),
                          lambda self, v: self._setf("Dutycycle", _real("duty_cycle", v, 0, 1)),
                          doc="0..1")

    @property
    def waveform(self):
        """'sine', 'square', 'triangle', or the stored code when it is none of them."""
        self._board._require_open()
        code = get("AWG_GetWaveformType", ctypes.c_int32, self.index)
        return _NAMES.get(code, code)

    @waveform.setter
    def waveform(self, shape):
        self._board._require_open()
        if isinstance(shape, str):
            if shape not in WAVEFORMS:
                raise ValueError(f"unknown waveform {shape!r}; known: {', '.join(WAVEFORMS)}")
            code = WAVEFORMS[shape]
        elif isinstance(shape, numbers.Integral) and int(shape) in _NAMES:
            code = int(shape)
        else:
            raise ValueError(f"waveform must be one of {', '.join(WAVEFORMS)} (or codes 0..2), "
                             f"not {shape!r}")
        call("AWG_SetWaveformType", self.index, code)

    @property
    def frequency(self):
        self._board._require_open()
        return get("AWG_GetFrequency", ctypes.c_double, self.index)

    @frequency.setter
    def frequency(self, hertz):
        self._board._require_open()
        call("AWG_SetFrequency", self.index,
             _real("frequency", hertz, 0.0, MAX_FREQUENCY_HZ))

    def enable(self, on=True):
        """Lets the channel's output play (True) or holds it off (False)."""
        self._board._require_open()
        call("AWG_EnableOutput", self.index, 1 if on else 0)

    def configure(self, shape="sine", frequency=None, amplitude=None, offset=None, phase=None,
                  duty_cycle=None):
        if duty_cycle is not None:
            self.duty_cycle = duty_cycle
        self.waveform = shape
        for name, value in (("amplitude", amplitude), ("offset", offset), ("phase", phase),
                            ("frequency", frequency)):
            if value is not None:
                setattr(self, name, value)
        return self


class Generator:
    def __init__(self, board):
        self._board = board

    @property
    def channel_count(self):
        return get("AWG_GetnelNum", ctypes.c_int32)

    def __len__(self):
        return self.channel_count

    def __getitem__(self, index):
        if not 0 <= index < self.channel_count:
            raise IndexError(f"generator channel {index} does not exist on this board")
        return Channel(self._board, index)

    def sync(self):
        """Holds all channels for 1 ms and releases them together."""
        self._board._require_open()
        call("AWG_SyncAllChannels")
