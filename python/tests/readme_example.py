"""Prints the README's Python example: the first ```python block of its "## Python" section.
Used by test_readme.py and scripts/check-python-install.sh, so that the README and what the tests
run cannot drift apart."""
import re
import sys
from pathlib import Path


def example(readme):
    text = Path(readme).read_text()
    section = text.split("\n## Python\n", 1)
    if len(section) != 2:
        raise SystemExit(f"{readme} has no '## Python' section")
    found = re.search(r"^```python\n(.*?)^```", section[1], re.S | re.M)
    if not found:
        raise SystemExit(f"{readme} has no python block in its '## Python' section")
    return found.group(1)


if __name__ == "__main__":
    sys.stdout.write(example(sys.argv[1]))
