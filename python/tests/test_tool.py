"""The ostrel-daq command-line tool on the simulated bus."""
import os
import re
import resource
import signal
import subprocess
import time

import numpy as np
import pytest


def run(tool, *arguments, check=True):
    result = subprocess.run([tool, *arguments], capture_output=True, text=True, timeout=120)
    if check:
        assert result.returncode == 0, result.stderr
    return result


def test_list_shows_every_simulated_board(tool):
    out = run(tool, "--simulate", "A006,A001", "list").stdout
    assert "2 boards" in out
    assert "device 0xA006" in out and "model 9" in out
    assert "device 0xA001" in out and "model 5" in out


def test_info_shows_model_rates_and_front_end(tool):
    out = run(tool, "--simulate", "A005", "info", "0").stdout
    assert "model 8" in out and "lanes 4" in out
    assert "0:75" in out and "15:1" in out
    assert "lane 3:" in out


@pytest.mark.parametrize("suffix", [".npy", ".csv"])
def test_acquire_writes_frames(tool, tmp_path, suffix):
    target = tmp_path / f"frames{suffix}"
    # Model 9 acquires 1 GB/s in real time: on a busy machine a record may be missed, which
    # acquire reports (exit 1) unless allowed; the file's format is the matter here.
    run(tool, "--simulate", "A006", "acquire", "0", "--frames", "2", "--record-length", "256",
        "--records", "1024", "--output", str(target), "--allow-loss")
    if suffix == ".npy":
        frames = np.load(target)
        assert frames.shape == (2, 2, 256 * 1024) and frames.dtype == np.int16
    else:
        lines = target.read_text().splitlines()
        assert lines[0] == "frame,point,lane0,lane1"
        assert len(lines) == 1 + 2 * 256 * 1024


def test_calibrate_prints_the_table(tool, tmp_path):
    out = subprocess.run([tool, "--simulate", "A002", "calibrate", "0"], capture_output=True,
                         text=True, timeout=300, cwd=tmp_path)
    assert out.returncode == 0, out.stderr
    assert "CardData_K9T3A.dat" in out.stdout and "16 entries" in out.stdout
    assert (tmp_path / "CardData_K9T3A.dat").stat().st_size == 260


def test_bandwidth_reports_a_rate(tool):
    out = run(tool, "--simulate", "A001", "bandwidth", "0").stdout
    assert "MB/s" in out and "1310720 bytes" in out


def test_awg_sets_a_channel(tool):
    out = run(tool, "--simulate", "A006", "awg", "0", "--channel", "1", "--shape", "square",
              "--frequency", "2.5e6", "--amplitude", "2", "--duty", "0.3").stdout
    assert "channel 1: square" in out


# Every bad input: refused before the board is touched, exit status 2, the valid range named.
BAD_INPUT = [
    (["frobnicate"], "unknown command"),
    (["info"], "needs a board index"),
    (["info", "x"], "not a whole number"),
    (["acquire", "0"], "--output"),
    (["acquire", "0", "--output", "f.txt"], ".csv or .npy"),
    (["acquire", "0", "--plot", "f.png"], "--plot must end in .svg"),
    (["acquire", "0", "--output", "f.npy", "--frames", "0"], "--frames must lie in 1..1000000 (got 0)"),
    (["acquire", "0", "--output", "f.npy", "--records", "0"], "--records must lie in 1.."),
    (["awg", "0", "--shape", "sawtooth"], "unknown shape 'sawtooth'; known: sine, square, triangle"),
    (["info", "0", "--bogus", "1"], "unknown option"),
    (["--simulate", "XYZ", "list"], "known: A001 (model 5"),
    (["--simulate", "BEEF", "list"], "unknown device ID 'BEEF'; known: A001"),
    (["--simulate", "A001", "awg", "0"], "no waveform generator"),
    (["--simulate", "A001", "info", "3"], "no board 3 (1 on the bus: indices 0..0)"),
    (["--simulate", "A002", "acquire", "0", "--clock", "7", "--output", "f.npy"],
     "--clock must lie in 0..5 on this board (got 7); its rates by divider code: 0: 150"),
    (["--simulate", "A001", "acquire", "0", "--clock", "21", "--output", "f.npy"],
     "--clock must lie in 0..20 on this board (got 21)"),
    (["--simulate", "A001", "acquire", "0", "--record-length", "100000", "--output", "f.npy"],
     "--record-length must lie in 32..16384 on this board (got 100000)"),
    (["--simulate", "A005", "acquire", "0", "--record-length", "16384", "--output", "f.npy"],
     "--record-length must lie in 32..8192 on this board"),
    (["--simulate", "A006", "acquire", "0", "--record-length", "1001", "--output", "f.npy"],
     "multiple of 4 on this board (got 1001)"),
    (["--simulate", "A004", "acquire", "0", "--record-length", "1028", "--output", "f.npy"],
     "multiple of 8 on this board (got 1028)"),
    (["--simulate", "A002", "acquire", "0", "--record-length", "1002", "--output", "f.npy"],
     "multiple of 4 on this board"),
    (["--simulate", "A007", "acquire", "0", "--record-length", "33", "--output", "f.npy"],
     "multiple of 4 on this board"),
    (["acquire", "0", "--record-length", "16", "--output", "f.npy"],
     "--record-length must lie in 32..1048576 (got 16)"),
    (["--simulate", "A006", "acquire", "0", "--records", "100000000", "--output", "f.npy"],
     "--records must lie in 1..16777216"),
    (["--simulate", "A006", "acquire", "0", "--record-length", "16384", "--records", "10000",
      "--output", "f.npy"], "--records must lie in 1..8192 for a record length of 16384"),
    (["acquire", "0", "--timeout", "1e300", "--output", "f.npy"],
     "--timeout must lie in 0.001..86400 s (got 1e300)"),
    (["acquire", "0", "--timeout", "nan", "--output", "f.npy"], "--timeout must lie in 0.001..86400 s"),
    (["acquire", "0", "--timeout", "inf", "--output", "f.npy"], "--timeout must lie in 0.001..86400 s"),
    (["acquire", "0", "--timeout", "-3", "--output", "f.npy"], "--timeout must lie in 0.001..86400 s"),
    (["acquire", "0", "--timeout", "soon", "--output", "f.npy"], "--timeout: not a number"),
    (["acquire", "0", "--output", "missing/dir/f.npy"],
     "cannot write 'missing/dir/f.npy': No such file or directory"),
    (["acquire", "0", "--output", "adir.npy"], "cannot write 'adir.npy': it is a directory"),
    (["acquire", "0", "--output", "f.npy", "--plot", "missing/t.svg"], "cannot write 'missing/t.svg'"),
    (["--simulate", "A001", "acquire", "0", "--loopback", "--output", "f.npy"],
     "--loopback needs a board with a waveform generator"),
    (["--simulate", "A006", "acquire", "0", "--awg", "saw:1e6:2", "--output", "f.npy"],
     "--awg: unknown shape 'saw'"),
    (["--simulate", "A006", "acquire", "0", "--awg", "sine:1e6", "--output", "f.npy"],
     "--awg takes SHAPE:FREQUENCY:AMPLITUDE"),
    (["--simulate", "A006", "acquire", "0", "--awg", "sine:1e12:2", "--output", "f.npy"],
     "--awg frequency must lie in 0..1.5e+08 Hz (got 1e+12)"),
    (["--simulate", "A006", "acquire", "0", "--awg", "sine:1e6:2,sine:1e6:2,sine:1e6:2",
      "--output", "f.npy"], "one or two waveforms"),
    (["--simulate", "A006", "awg", "0", "--frequency", "1e12"], "--frequency must lie in 0..1.5e+08 Hz (got 1e12)"),
    (["--simulate", "A006", "awg", "0", "--frequency", "nan"], "--frequency must lie in 0..1.5e+08 Hz"),
    (["--simulate", "A006", "awg", "0", "--amplitude", "100"], "--amplitude must lie in 0..4.75"),
    (["--simulate", "A006", "awg", "0", "--amplitude", "-3"], "--amplitude must lie in 0..4.75"),
    (["--simulate", "A006", "awg", "0", "--amplitude", "2", "--offset", "2"],
     "--offset must lie in -1.375..1.375"),
    (["--simulate", "A006", "awg", "0", "--duty", "2"], "--duty must lie in 0..1 (got 2)"),
    (["--simulate", "A006", "awg", "0", "--phase", "10"], "--phase must lie in -6.28319..6.28319 radians"),
    (["--simulate", "A006", "awg", "0", "--channel", "2"], "--channel must lie in 0..1 (got 2)"),
    (["acquire", "0", "--output", "f.npy", "--skip-records", "10"],
     "--skip-records needs simulated boards (--simulate)"),
    (["--simulate", "A001", "acquire", "0", "--output", "f.npy", "--skip-records", "-1"],
     "--skip-records must lie in 0..1073741824 (got -1)"),
    (["record", "0", "--output", "r.npy"], "record needs --duration S (0.001..86400 s)"),
    (["record", "0", "--duration", "1"], "record needs --output FILE.npy"),
    (["record", "0", "--duration", "1", "--output", "r.csv"],
     "record writes .npy files: --output must end in .npy: 'r.csv'"),
    (["record", "0", "--duration", "0", "--output", "r.npy"],
     "--duration must lie in 0.001..86400 s (got 0)"),
    (["record", "0", "--duration", "nan", "--output", "r.npy"],
     "--duration must lie in 0.001..86400 s (got nan)"),
    (["record", "0", "--duration", "1e9", "--output", "r.npy"],
     "--duration must lie in 0.001..86400 s (got 1e9)"),
    (["record", "0", "--duration", "1", "--output", "r.npy", "--ring-frames", "1"],
     "--ring-frames must lie in 2..1024 (got 1)"),
    (["record", "0", "--duration", "1", "--output", "r.npy", "--ring-frames", "1025"],
     "--ring-frames must lie in 2..1024 (got 1025)"),
    (["record", "0", "--duration", "1", "--output", "r.npy", "--frames", "3"],
     "unknown option '--frames' for record"),
    (["record", "0", "--duration", "1", "--output", "missing/dir/r.npy"],
     "cannot write 'missing/dir/r.npy': No such file or directory"),
    (["record", "0", "--duration", "1", "--output", "adir.npy"],
     "cannot write 'adir.npy': it is a directory"),
    (["record", "0", "--duration", "1", "--output", "r.npy", "--records", "0"],
     "--records must lie in 1..16777216 (got 0)"),
    (["--simulate", "A005", "record", "0", "--duration", "1", "--output", "r.npy",
      "--record-length", "16384"], "--record-length must lie in 32..8192 on this board"),
    (["--simulate", "A002", "record", "0", "--duration", "1", "--output", "r.npy",
      "--clock", "6"], "--clock must lie in 0..5 on this board (got 6)"),
    # A queue of 9 frames of 256 MiB would pass 2 GiB: refused before anything is allocated.
    (["--simulate", "A001", "record", "0", "--duration", "1", "--output", "r.npy",
      "--record-length", "16384", "--records", "8192", "--ring-frames", "9"],
     "--ring-frames must lie in 2..8 for frames of 268435456 bytes (the queue stays within 2 GiB; "
     "got 9)"),
]


@pytest.mark.parametrize("arguments, message", BAD_INPUT)
def test_bad_input_is_refused_with_the_valid_range_and_exit_status_2(tool, arguments, message,
                                                                     tmp_path):
    (tmp_path / "adir.npy").mkdir()
    result = subprocess.run([tool, *arguments], capture_output=True, text=True, timeout=60,
                            cwd=tmp_path)
    assert result.returncode == 2, (result.returncode, result.stdout, result.stderr)
    assert message in result.stderr
    assert result.stdout == ""
    # Nothing was written: no output file, no temporary one.
    assert sorted(path.name for path in tmp_path.iterdir()) == ["adir.npy"]


def test_a_board_that_fails_gives_exit_status_1_and_leaves_no_file(tool, tmp_path):
    # Model 5 at its slowest rate (0.5 MS/s): one frame of 16384 x 4096 points takes minutes.
    result = subprocess.run([tool, "--simulate", "A001", "acquire", "0", "--clock", "20",
                             "--record-length", "16384", "--records", "4096", "--timeout", "0.2",
                             "--output", "frames.npy", "--plot", "trace.svg"],
                            capture_output=True, text=True, timeout=60, cwd=tmp_path)
    assert result.returncode == 1, result.stderr
    assert "no frame within 0.2 s (frame 1 of 1)" in result.stderr
    assert list(tmp_path.iterdir()) == []


@pytest.mark.parametrize("signal_number", [signal.SIGINT, signal.SIGTERM])
def test_an_interrupted_acquire_leaves_no_file(tool, tmp_path, signal_number):
    process = subprocess.Popen([tool, "--simulate", "A001", "acquire", "0", "--clock", "20",
                                "--record-length", "16384", "--records", "4096", "--timeout", "60",
                                "--output", "frames.npy", "--plot", "trace.svg"],
                               cwd=tmp_path, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    deadline = time.monotonic() + 30
    while len(list(tmp_path.iterdir())) < 2 and time.monotonic() < deadline:
        time.sleep(0.01)
    assert len(list(tmp_path.iterdir())) == 2  # both temporary files exist: it is acquiring
    process.send_signal(signal_number)
    assert process.wait(30) == -signal_number
    assert list(tmp_path.iterdir()) == []


def test_loopback_plays_the_generator_into_the_lanes_and_plots_them(tool, tmp_path):
    # --allow-loss: missed records read 0 and are left out below, as on a busy machine they are.
    out = run(tool, "--simulate", "A006", "--loopback", "acquire", "0", "--awg",
              "sine:1e6:2,square:2.5e6:3", "--frames", "2", "--output", str(tmp_path / "f.npy"),
              "--plot", str(tmp_path / "trace.svg"), "--allow-loss").stdout
    frames = np.load(tmp_path / "f.npy")
    assert frames.shape == (2, 2, 1024 * 64)
    rate = 250e6
    for lane, (frequency, amplitude) in enumerate(((1e6, 2.0), (2.5e6, 3.0))):
        # Amplitude 4.75 spans the 14-bit range: 8191.5 codes from the middle.
        swing = 2 * amplitude / 4.75 * 8191.5
        records = frames[1, lane].astype(np.float64).reshape(-1, 1024)
        # A record the acquisition thread missed on a loaded machine holds older contents; the
        # waveform is judged on the records that came.
        records = records[np.ptp(records, axis=1) > 0.9 * swing]
        assert len(records) >= 48
        centred = records - (records.max() + records.min()) / 2
        rising = np.count_nonzero((centred[:, :-1] < 0) & (centred[:, 1:] >= 0), axis=1)
        assert rising.mean() == pytest.approx(frequency * 1024 / rate, abs=0.3)
        assert np.percentile(records, 99.9) - np.percentile(records, 0.1) == pytest.approx(
            swing, rel=0.02)
    svg = (tmp_path / "trace.svg").read_text()
    assert svg.startswith("<svg") and svg.rstrip().endswith("</svg>")
    assert svg.count("<polyline") == 2
    assert "generator looped back" in svg
    assert "scope trace" in out
    assert [path.name for path in sorted(tmp_path.iterdir())] == ["f.npy", "trace.svg"]


def test_rates_are_measured_over_the_run_and_within_the_boards_pace(tool, tmp_path):
    for device, lanes, megasamples in (("A006", 2, 250.0), ("A001", 1, 50.0)):
        out = run(tool, "--simulate", device, "acquire", "0", "--frames", "20",
                  "--output", str(tmp_path / "f.npy"), "--allow-loss").stdout
        found = re.search(r"in ([0-9.]+) s: ([0-9.]+) frames/s, ([0-9.]+) MB/s read \(the board "
                          r"produces ([0-9.]+) MB/s", out)
        assert found, out
        seconds, per_second, read, board = (float(value) for value in found.groups())
        assert board == pytest.approx(megasamples * lanes * 2)
        assert 0 < read <= board
        frame_bytes = 2 * lanes * 1024 * 64
        # The time is printed to a tenth of a millisecond.
        tolerance = 0.005 + 0.00005 / seconds
        assert read == pytest.approx(20 * frame_bytes / seconds / 1e6, rel=tolerance)
        assert per_second == pytest.approx(20 / seconds, rel=tolerance)


def test_help_on_each_command(tool):
    assert "usage: ostrel-daq" in run(tool, "--help").stdout
    for command in ("list", "info", "acquire", "record", "calibrate", "bandwidth", "awg"):
        assert f"usage: ostrel-daq {command}" in run(tool, command, "--help").stdout


# What the tool reaches without --simulate: the driver-access library, never the simulator.
def _without_simulation(**extra):
    environment = {k: v for k, v in os.environ.items()
                   if k not in ("OSTREL_SIMULATE", "OSTREL_DRIVER_LIBRARY", "LD_LIBRARY_PATH")}
    environment.update(extra)
    return environment


def test_list_without_a_library_or_simulation_says_what_to_do(tool):
    result = subprocess.run([tool, "list"], capture_output=True, text=True, timeout=120,
                            env=_without_simulation())
    assert result.returncode == 1
    assert "libwdapi1180.so" in result.stderr and "OSTREL_SIMULATE=" in result.stderr
    assert "--simulate" in result.stderr and "board" not in result.stdout


def test_list_labels_simulated_boards(tool):
    out = run(tool, "--simulate", "A006", "list").stdout
    assert re.search(r"^1 board on the bus \(simulated: .*OstrelBoardSim", out, re.M), out
    assert re.search(r"model 9  \(simulated\)$", out, re.M), out
    assert "(simulated)" in run(tool, "--simulate", "A006", "info", "0").stdout


def test_a_library_named_by_the_environment_is_not_labelled_simulated(tool):
    standin = os.environ.get("OSTREL_STANDIN_LIBRARY")
    if not standin:
        pytest.skip("OSTREL_STANDIN_LIBRARY is not set (run through ctest)")
    environment = _without_simulation(OSTREL_DRIVER_LIBRARY=standin, OSTREL_SIM_BOARDS="A001")
    result = subprocess.run([tool, "list"], capture_output=True, text=True, timeout=120,
                            env=environment)
    assert result.returncode == 0, result.stderr
    assert f"1 board on the bus (driver-access library: {standin})" in result.stdout
    assert "simulated" not in result.stdout


# Model 5 at 10 MS/s (divider 9): frames of 525 records of 1000 points, 52.5 ms each, at a pace
# the tool keeps up with on a busy machine.
SLOW = ["--simulate", "A001"]
SLOW_GEOMETRY = ["--clock", "9", "--record-length", "1000", "--records", "525"]


def read_side_file(path):
    lines = path.read_text().splitlines()
    assert lines[0] == "sequence,completed_ns,records_valid,records_expected,flags"
    return [tuple(int(value) for value in line.split(",")) for line in lines[1:]]


@pytest.mark.parametrize("device, geometry, shape", [
    ("A001", SLOW_GEOMETRY, (1, 525000)),
    # Raised: 64 records a frame go out of 512 the board acquires; not contiguous in time.
    ("A005", ["--clock", "9", "--record-length", "256", "--records", "64"], (4, 256 * 64)),
])
def test_record_writes_every_frame_and_what_is_known_of_each(tool, tmp_path, device, geometry,
                                                             shape):
    result = run(tool, "--simulate", device, "record", "0", "--duration", "0.4", "--output",
                 str(tmp_path / "run.npy"), *geometry)
    frames = np.load(tmp_path / "run.npy")
    assert frames.dtype == np.int16 and frames.shape[1:] == shape
    info = read_side_file(tmp_path / "run.frames.csv")
    assert len(info) == frames.shape[0] >= 3
    records = geometry[geometry.index("--records") + 1]
    assert [row[0] for row in info] == list(range(len(info)))
    assert all(row[2:] == (int(records), int(records), 1) for row in info)
    times = [row[1] for row in info]
    assert times == sorted(times) and times[0] > 0
    assert f"{frames.shape[0]} frames of {shape[0]} lane" in result.stdout
    assert "lost: nothing" in result.stdout
    assert ("not contiguous in time" in result.stdout) == (shape == (4, 256 * 64))
    assert sorted(path.name for path in tmp_path.iterdir()) == ["run.frames.csv", "run.npy"]


# A simulated board that leaves out two frames and five records once the first frame is in loses
# at least one frame whole: record keeps its files and says so, acquire keeps nothing unless told
# to.
@pytest.mark.parametrize("command, allow, status, kept", [
    (["record", "0", "--duration", "0.4", "--output", "run.npy"], False, 1,
     ["run.frames.csv", "run.npy"]),
    (["record", "0", "--duration", "0.4", "--output", "run.npy"], True, 0,
     ["run.frames.csv", "run.npy"]),
    (["acquire", "0", "--frames", "3", "--output", "run.npy"], False, 1, []),
    (["acquire", "0", "--frames", "3", "--output", "run.npy"], True, 0, ["run.npy"]),
])
def test_a_loss_gives_status_1_unless_allowed(tool, tmp_path, command, allow, status, kept):
    arguments = [tool, *SLOW, *command, *SLOW_GEOMETRY, "--skip-records", str(2 * 525 + 5)]
    if allow:
        arguments.append("--allow-loss")
    result = subprocess.run(arguments, capture_output=True, text=True, timeout=120, cwd=tmp_path)
    assert result.returncode == status, (result.stdout, result.stderr)
    assert sorted(path.name for path in tmp_path.iterdir()) == kept
    if command[0] == "acquire" and not allow:
        assert "--allow-loss keeps frames with loss" in result.stderr
        # The board leaves the records out once the first frame is in.
        assert re.search(r"frame [23] of 3 \(sequence [1-9]\d*\) came with \d+ of 525 records",
                         result.stderr)
        return
    lost = re.search(r"^lost: (\d+) frames? \(gaps in the sequence\), (\d+) partial frames?, "
                     r"(\d+) records? in all$", result.stdout, re.M)
    assert lost, result.stdout
    frames_lost, records_lost = int(lost.group(1)), int(lost.group(3))
    assert frames_lost >= 1 and records_lost >= 2 * 525 + 5
    if command[0] == "record":
        info = read_side_file(tmp_path / "run.frames.csv")
        assert len(info) == np.load(tmp_path / "run.npy").shape[0]
        sequences = [row[0] for row in info]
        # The gaps in the sequence are the frames lost; their frames carry flag 2.
        assert sequences[-1] + 1 - len(sequences) == frames_lost
        for before, row in zip([-1] + sequences, info):
            assert bool(row[4] & 2) == (row[0] > before + 1)
            assert bool(row[4] & 1) == (row[2] == row[3])
        if not allow:
            assert "--allow-loss accepts a recording with loss" in result.stderr
    else:
        assert np.load(tmp_path / "run.npy").shape == (3, 1, 525000)


@pytest.mark.parametrize("signal_number", [signal.SIGINT, signal.SIGTERM])
def test_an_interrupted_record_leaves_no_file(tool, tmp_path, signal_number):
    process = subprocess.Popen([tool, *SLOW, "record", "0", "--duration", "60", "--output",
                                "run.npy", *SLOW_GEOMETRY], cwd=tmp_path,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    deadline = time.monotonic() + 30
    while len(list(tmp_path.iterdir())) < 2 and time.monotonic() < deadline:
        time.sleep(0.01)
    assert len(list(tmp_path.iterdir())) == 2  # both temporary files exist: it is recording
    time.sleep(0.2)
    process.send_signal(signal_number)
    assert process.wait(30) == -signal_number
    assert list(tmp_path.iterdir()) == []


def test_a_write_that_fails_ends_record_with_status_1_and_no_file(tool, tmp_path):
    # Files may not grow beyond 4 MiB: the first batch of frames the writer thread writes fails.
    def limit_file_size():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # a failed write, not a killed process
        resource.setrlimit(resource.RLIMIT_FSIZE, (4 << 20, 4 << 20))

    result = subprocess.run([tool, "--simulate", "A001", "record", "0", "--duration", "3",
                             "--output", "run.npy", "--record-length", "1000", "--records", "525",
                             "--allow-loss"],
                            capture_output=True, text=True, timeout=120, cwd=tmp_path,
                            preexec_fn=limit_file_size)
    assert result.returncode == 1, (result.stdout, result.stderr)
    assert "cannot write 'run.npy': File too large" in result.stderr
    assert list(tmp_path.iterdir()) == []
