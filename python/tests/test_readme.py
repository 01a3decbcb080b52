"""The README's Python example, taken from README.md itself, runs as written."""
import re
import subprocess
import sys
from pathlib import Path

from readme_example import example

README = Path(__file__).resolve().parent.parent.parent / "README.md"


def test_readme_python_example_runs_as_written(tmp_path):
    script = tmp_path / "example.py"
    script.write_text(example(README))
    result = subprocess.run([sys.executable, str(script)], capture_output=True, text=True,
                            timeout=120, cwd=tmp_path)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    # acquire(frames=2) on a fresh board: the default geometry, 1024 x 64 points per lane.
    assert lines[0] == "(2, 2, 65536)"
    # Ten frames of the configured geometry, each with its lane means.
    assert all(line.startswith("(2, 65536) [") for line in lines[1:11])
    # Five streamed frames in order, each with what is known of it, then what was lost.
    assert len(lines) == 17
    streamed = [re.fullmatch(r"(\d+) (True|False) (\d+) (\d+)", line) for line in lines[11:16]]
    assert all(streamed), lines[11:16]
    sequences = [int(found.group(1)) for found in streamed]
    assert sequences == sorted(set(sequences))
    lost = re.fullmatch(r"lost: (\d+) frames, (\d+) records", lines[16])
    assert lost and int(lost.group(1)) == sum(int(found.group(3)) for found in streamed)
