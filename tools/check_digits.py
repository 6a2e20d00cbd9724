"""ISBN check characters, for the scripts that make test and benchmark data."""


def check10(nine):
    """The check character that completes nine digits to a valid ISBN-10."""
    s = sum((i + 1) * int(c) for i, c in enumerate(nine)) % 11
    return "X" if s == 10 else str(s)


def check13(twelve):
    """The check digit that completes twelve digits to a valid ISBN-13."""
    s = sum((1 if i % 2 == 0 else 3) * int(c) for i, c in enumerate(twelve))
    return str((10 - s % 10) % 10)
