"""The one exception class of the package."""


class Error(Exception):
    """Every failure of the package: one line fit to show a user."""

    def __init__(self, message):
        # A message spread over lines would not fit a status bar or a log line.
        super().__init__(" ".join(str(message).split()))


class UnknownCamera(Error, KeyError):
    """A camera name the host (or a frame) does not have; also a KeyError for mapping use."""

    def __str__(self):
        # KeyError quotes its argument; the message is already fit to show.
        return Exception.__str__(self)


def unknown_camera(name, known):
    listed = ", ".join(known) if known else "none"
    return UnknownCamera("unknown camera '%s' (cameras: %s)" % (name, listed))
