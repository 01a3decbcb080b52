"""The one exception the package raises for a refusal of the engine."""


class DAQError(RuntimeError):
    """An export refused or failed: carries the export's name and its result."""

    def __init__(self, function, result, detail=""):
        self.function = function
        self.result = result
        message = f"{function} returned {result}"
        super().__init__(f"{message}: {detail}" if detail else message)


def check(function, result, detail=""):
    """Raises DAQError for a negative result; returns the result otherwise."""
    if result < 0:
        raise DAQError(function, result, detail)
    return result
