"""The ostrel-daq command-line tool on the simulated bus."""
import subprocess

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
    run(tool, "--simulate", "A006", "acquire", "0", "--frames", "2", "--record-length", "256",
        "--records", "1024", "--output", str(target))
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


@pytest.mark.parametrize("arguments, message", [
    (["frobnicate"], "unknown command"),
    (["info"], "needs a board index"),
    (["info", "x"], "not a whole number"),
    (["acquire", "0"], "--output"),
    (["acquire", "0", "--output", "f.txt"], ".csv or .npy"),
    (["acquire", "0", "--output", "f.npy", "--frames", "0"], "--frames must lie in"),
    (["awg", "0", "--shape", "sawtooth"], "--shape"),
    (["info", "0", "--bogus", "1"], "unknown option"),
    (["--simulate", "XYZ", "list"], "--simulate"),
    (["--simulate", "A001", "awg", "0"], "no waveform generator"),
    (["--simulate", "A001", "info", "3"], "no board 3"),
])
def test_bad_input_gives_a_clear_message_and_non_zero_exit(tool, arguments, message, tmp_path):
    result = subprocess.run([tool, *arguments], capture_output=True, text=True, timeout=60,
                            cwd=tmp_path)
    assert result.returncode != 0
    assert message in result.stderr


def test_help_on_each_command(tool):
    assert "usage: ostrel-daq" in run(tool, "--help").stdout
    for command in ("list", "info", "acquire", "calibrate", "bandwidth", "awg"):
        assert f"usage: ostrel-daq {command}" in run(tool, command, "--help").stdout
