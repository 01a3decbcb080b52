"""Loading of the native libraries and the C prototypes of their exports."""
import ctypes
import threading
import os
import sys
from pathlib import Path

_ENGINE = {"linux": ("libOstrelDAQEngine.so", "libOstrelDAQEngine.so.0"),
           "win32": ("OstrelDAQEngine.dll",),
           "darwin": ("libOstrelDAQEngine.dylib",)}
_SIM = {"linux": ("libOstrelBoardSim.so", "libOstrelBoardSim.so.0"),
        "win32": ("OstrelBoardSim.dll",),
        "darwin": ("libOstrelBoardSim.dylib",)}

# Where a checkout builds the libraries (scripts/demo.sh, scripts/test.sh): used when the package
# is imported from the source folder python/ without installing it.
_CHECKOUT_BUILD = Path(__file__).resolve().parent.parent.parent / "build" / "default"
_CHECKOUT_FOLDERS = {"libOstrelDAQEngine": "engine", "libOstrelBoardSim": "platform/sim",
                     "OstrelDAQEngine": "engine", "OstrelBoardSim": "platform/sim"}


def _platform_key():
    return "win32" if sys.platform.startswith("win") else (
        "darwin" if sys.platform == "darwin" else "linux")


def _folders(stem):
    """Folders to look in, most specific first: OSTREL_LIBRARY_DIR (folders separated like
    PATH), the package's own lib folder (an installed wheel), then a checkout's build folder."""
    for entry in os.environ.get("OSTREL_LIBRARY_DIR", "").split(os.pathsep):
        if entry:
            yield Path(entry)
    yield Path(__file__).resolve().parent / "lib"
    yield _CHECKOUT_BUILD / _CHECKOUT_FOLDERS[stem]


def _load(table, mode):
    names = table[_platform_key()]
    stem = names[0].split(".")[0]
    tried = []
    for folder in _folders(stem):
        for name in names:
            candidate = folder / name
            if candidate.exists():
                return ctypes.CDLL(str(candidate), mode=mode)
            tried.append(str(candidate))
    for name in names:  # the system's search path (an installed prefix in ld.so.conf)
        try:
            return ctypes.CDLL(name, mode=mode)
        except OSError:
            pass
    raise OSError(
        f"cannot load {names[0]}: looked in {', '.join(tried)} and the system's library path. "
        f"Install the package with its libraries (scripts/install-python.sh), or set "
        f"OSTREL_LIBRARY_DIR to the folders that hold {_ENGINE[_platform_key()][0]} and "
        f"{_SIM[_platform_key()][0]} (separated by '{os.pathsep}').")


# Only the engine at import: it reaches real boards through the driver-access library unless
# the program asks for simulated ones (load_sim, or OSTREL_SIMULATE in the environment).
engine = _load(_ENGINE, ctypes.RTLD_GLOBAL)

i8, u8, i16, i32, u32, u64 = (ctypes.c_int8, ctypes.c_uint8, ctypes.c_int16, ctypes.c_int32,
                              ctypes.c_uint32, ctypes.c_uint64)
f32, f64, P = ctypes.c_float, ctypes.c_double, ctypes.POINTER
i64 = ctypes.c_int64


class DAQ_FrameInfo(ctypes.Structure):
    """What DAQ_StreamRead and DAQ_GetLatestFrameInfo tell about a frame (the header's struct)."""
    _fields_ = [("size", u32), ("flags", u32), ("frameSequence", u64),
                ("recordsExpected", u32), ("recordsValid", u32), ("framesLostBefore", u64),
                ("recordsLostTotal", u64), ("completedNs", i64), ("samplePeriodS", f64)]


# Results and flags of the streaming exports.
DAQ_TIMEOUT, DAQ_OVERFLOW, DAQ_ENDED = -5, -6, -7
DAQ_FRAME_COMPLETE, DAQ_FRAME_GAP_BEFORE = 1, 2
DAQ_STREAM_DROP_OLDEST, DAQ_STREAM_DROP_NEWEST, DAQ_STREAM_FAIL = 0, 1, 2

_ENGINE_PROTOTYPES = {
    "ReadMemory32": (i32, [i32, P(u32)]),
    "WriteMemory32": (i32, [i32, u32]),
    "ReadConfigurationRegister": (i32, []),
    "TestFunction": (u32, [u32]),
    "DAQ_CheckSystem": (i32, [P(i32)]),
    "DAQ_OpenDevice": (i32, [i32]),
    "DAQ_CloseDevice": (i32, []),
    "DAQ_GetDeviceNum": (i32, [P(i32)]),
    "DAQ_GetDeviceInfo": (i32, [i32] + [P(u32)] * 6),
    "DAQ_GetDeviceModel": (i32, [i32, P(i32)]),
    "GetDeviceResource": (i32, [P(u32)] * 4),
    "DAQ_ConfigAcquisition": (i32, [u32, u32]),
    "DAQ_ConfigAcquisition_and_Start": (i32, [u32, u32]),
    "DAQ_FinalizeAcquisition": (i32, []),
    "DAQ_StartAcquisition": (i32, []),
    "DAQ_StopAcquisition": (i32, []),
    "DAQ_GetLatestFrame": (i32, [ctypes.c_void_p] * 4),
    "DAQ_NewDataFrameAvailable": (i32, []),
    "DAQ_CheckDMA": (i32, [P(i32), P(i32), P(f32)]),
    "DAQ_GetDebugValue": (i32, [P(i32)]),
    "DAQ_DMABandwidthTest": (i32, [ctypes.c_void_p, P(f32)]),
    "DAQ_ProcessDMAPool": (i32, [ctypes.c_void_p, P(i32), P(i32), i32, i32]),
    "DAQ_CopyDMAPool": (i32, [ctypes.c_void_p]),
    "DAQ_SetRecordLength": (i32, [u32]),
    "DAQ_GetRecordLength": (i32, [P(i32)]),
    "DAQ_SetRecordNumber": (i32, [i32]),
    "DAQ_GetRecordNumber": (i32, [P(i32)]),
    "DAQ_SetRecordCounters": (i32, [i32] * 4),
    "DAQ_SetTrigger": (i32, [i32]),
    "DAQ_GetTrigger": (i32, [P(i32)]),
    "DAQ_SetSamplingRate": (i32, [i32]),
    "DAQ_GetSamplingRate": (i32, [P(u32), P(f32)]),
    "DAQ_GetClockDivider": (i32, [P(i32)]),
    "DAQ_CheckSamplingRates": (i32, [i32, P(f32), P(i32)]),
    "DAQ_SetLEDCode": (i32, [i32]),
    "DAQ_GetMaxRecordLength": (i32, [P(i32)]),
    "DAQ_GetRecordNumInMem": (i32, [P(i32)]),
    "DAQ_GetDMATransferPoints": (i32, [P(i32)]),
    "DAQ_GetADCNumber": (i32, [P(i32)]),
    "DAQ_GetDMAInfo": (i32, [P(i16)] * 3),
    "DAQ_SetInputChannel": (i32, [i32]),
    "DAQ_GetInputChannel": (i32, [P(i32)]),
    "DAQ_Calibration_DCOffset": (i32, []),
    "DAQ_Calibration_VerticalScale": (i32, []),
    "DAQ_SelfCalibrationOnce": (i32, []),
    "DAQ_MeasureSignal": (i32, [ctypes.c_void_p, i32, P(f32), P(f32), P(f32)]),
    "DAQ_GetVerticalInfo": (i32, [P(f32), P(i32)]),
    "AWG_DesignWaveform": (i32, [i32, i32]),
    "AWG_UpdateWaveform": (i32, [i32]),
    "AWG_SetWaveformType": (i32, [i32, i32]),
    "AWG_GetWaveformType": (i32, [i32, P(i32)]),
    "AWG_SetFrequency": (i32, [i32, f64]),
    "AWG_GetFrequency": (i32, [i32, P(f64)]),
    "AWG_SyncAllChannels": (i32, []),
    "AWG_EnableOutput": (i32, [i32, u8]),
    "AWG_GetnelNum": (i32, [P(i32)]),
    "DAQ_GetDriverLibrary": (i32, [ctypes.c_char_p, i32, P(i32)]),
    "DAQ_GetStatusText": (i32, [ctypes.c_char_p, i32]),
    "DAQ_StreamStart": (i32, [i32, i32]),
    "DAQ_StreamRead": (i32, [ctypes.c_void_p] * 4 + [u32, P(DAQ_FrameInfo), i32]),
    "DAQ_StreamStop": (i32, []),
    "DAQ_GetLatestFrameInfo": (i32, [P(DAQ_FrameInfo)]),
}
for _setting in ("Gain", "Attenuation", "Coupling", "Termination"):
    _ENGINE_PROTOTYPES[f"DAQ_Set{_setting}"] = (i32, [i32, i32])
    _ENGINE_PROTOTYPES[f"DAQ_Get{_setting}"] = (i32, [i32, P(i32)])
    _ENGINE_PROTOTYPES[f"DAQ_Get{_setting}Number"] = (i32, [P(i32)])
for _parameter in ("Amplitude", "Offset", "Phase", "Dutycycle"):
    _ENGINE_PROTOTYPES[f"AWG_Set{_parameter}"] = (i32, [i32, f32])
    _ENGINE_PROTOTYPES[f"AWG_Get{_parameter}"] = (i32, [i32, P(f32)])


class SimAccess(ctypes.Structure):
    _fields_ = [("board", u32), ("space", u32), ("offset", u64), ("width", u32),
                ("write", u32), ("value", u32)]


class SimFrontEnd(ctypes.Structure):
    _fields_ = [("inputChannel", ctypes.c_int), ("coupling", ctypes.c_int),
                ("termination", ctypes.c_int), ("gain", ctypes.c_int),
                ("attenuation", ctypes.c_int)]


_int = ctypes.c_int
_SIM_PROTOTYPES = {
    "SIM_Reset": (None, []),
    "SIM_SetBoards": (_int, [P(u32), _int]),
    "SIM_SetConfigWord": (_int, [_int, u32]),
    "SIM_SetFault": (_int, [_int, u32]),
    "SIM_PeekRegister": (u32, [_int, i32]),
    "SIM_PokeRegister": (_int, [_int, i32, u32]),
    "SIM_PeekBar": (u32, [_int, _int, u64, _int]),
    "SIM_SetAccessLog": (None, [_int]),
    "SIM_GetAccessLog": (_int, [P(SimAccess), _int]),
    "SIM_ClearAccessLog": (None, []),
    "SIM_GetCallCount": (_int, [ctypes.c_char_p]),
    "SIM_GetResourceCount": (_int, [_int]),
    "SIM_GetFrontEnd": (_int, [_int, _int, P(SimFrontEnd)]),
    "SIM_SetDmaPacing": (_int, [_int]),
    "SIM_SetInputSignal": (_int, [_int, _int, f64, f64, f64, f64]),
    "SIM_SetZeroError": (_int, [_int] * 7),
    "SIM_SkipRecords": (_int, [_int, _int]),
    "SIM_GetDroppedDmaWrites": (u64, [_int]),
    "SIM_WriteDmaBuffer": (_int, [u64, ctypes.c_void_p, u64]),
    "SIM_SetLoopback": (_int, [_int, _int]),
}


def _bind(library, prototypes):
    for name, (result, arguments) in prototypes.items():
        function = getattr(library, name)
        function.restype = result
        function.argtypes = arguments


_bind(engine, _ENGINE_PROTOTYPES)
EXPORTS = tuple(sorted(_ENGINE_PROTOTYPES))

# The engine is a one-thread library with process-wide state: every call into it goes through
# this lock, and a sequence of calls that must not be split (ask the frame shape, then read the
# frame into a buffer of that shape) holds it across.
lock = threading.RLock()

_sim = None


def driver_library():
    """(path, simulated) of the library the engine reaches the boards through, or None before
    the engine has chosen one (it does at the first boards() or Board())."""
    path = ctypes.create_string_buffer(1024)
    simulated = i32()
    with lock:
        if engine.DAQ_GetDriverLibrary(path, len(path), ctypes.byref(simulated)) != 0:
            return None
    return path.value.decode(errors="replace"), bool(simulated.value)


def status_text():
    """The engine's last status message (why no board could be reached, among others)."""
    text = ctypes.create_string_buffer(2048)
    with lock:
        engine.DAQ_GetStatusText(text, len(text))
    return text.value.decode(errors="replace").strip()


def load_sim():
    """The simulator, loaded on first use: asking for it is asking for simulated boards. Raises
    RuntimeError when the engine already drives real boards in this process."""
    global _sim
    with lock:
        if _sim is None:
            bound = driver_library()
            if bound is not None and not bound[1]:
                raise RuntimeError(
                    f"this process already drives real boards through {bound[0]}; simulated "
                    f"boards need a process of their own")
            # Globally, so that the engine finds this very instance when it chooses its library.
            library = _load(_SIM, ctypes.RTLD_GLOBAL)
            _bind(library, _SIM_PROTOTYPES)
            _sim = library
        return _sim
