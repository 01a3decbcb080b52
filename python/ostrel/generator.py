"""The two-channel waveform generator of models 6 and 9."""
import ctypes

from ._calls import call, get

WAVEFORMS = {"sine": 0, "square": 1, "triangle": 2}
_NAMES = {code: name for name, code in WAVEFORMS.items()}


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

    amplitude = property(lambda self: self._getf("Amplitude"),
                         lambda self, v: self._setf("Amplitude", v))
    offset = property(lambda self: self._getf("Offset"), lambda self, v: self._setf("Offset", v))
    phase = property(lambda self: self._getf("Phase"), lambda self, v: self._setf("Phase", v))
    duty_cycle = property(lambda self: self._getf("Dutycycle"),
                          lambda self, v: self._setf("Dutycycle", v))

    @property
    def waveform(self):
        """'sine', 'square', 'triangle', or the stored code when it is none of them."""
        self._board._require_open()
        code = get("AWG_GetWaveformType", ctypes.c_int32, self.index)
        return _NAMES.get(code, code)

    @waveform.setter
    def waveform(self, shape):
        self._board._require_open()
        code = WAVEFORMS[shape] if isinstance(shape, str) else int(shape)
        call("AWG_SetWaveformType", self.index, code)

    @property
    def frequency(self):
        self._board._require_open()
        return get("AWG_GetFrequency", ctypes.c_double, self.index)

    @frequency.setter
    def frequency(self, hertz):
        self._board._require_open()
        call("AWG_SetFrequency", self.index, float(hertz))

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
