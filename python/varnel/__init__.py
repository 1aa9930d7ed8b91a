"""Python access to the VarnelSdk_Rade camera library.

    import varnel

    with varnel.Camera(camera_type="HXA1") as camera:
        camera.color_mode = 24
        picture = camera.snap()          # (height, width, 3) uint8, RGB
        for frame in camera.stream(frames=10):
            print(frame.number, frame.dropped, frame.mean())

    with varnel.Camera("V:", "HXA1") as camera:  # a virtual head (varnel-camsim)
        with camera.triggered(frames=5) as frames:  # armed
            camera.fire(rate=10, count=5)           # its steady-rate trigger
            for frame in frames:
                print(frame.number, frame.picture.mean())

The library (libVarnelSdk_Rade.so) is found through VARNEL_LIBRARY, the
system's library path, or a source checkout's build/native/bin.
"""

# The package's version; version() gives the library's.
__version__ = "0.201.5"

from .camera import (  # noqa: E402
    ERROR_TEXT,
    FILE_FORMATS,
    MODELS,
    REGISTER_ADDRESS_LIMITS,
    TRIGGER_MODELS,
    Camera,
    StreamFrame,
    TriggeredFrame,
    VarnelError,
    version,
)


def devices():
    """The camera drives attached now ("V:" each)."""
    from . import _lib

    lib = _lib.library()
    handle = lib.Varnel_Initialize(None)
    try:
        return _lib.device_names(lib, handle)
    finally:
        lib.Varnel_Release(handle)


__all__ = [
    "Camera",
    "VarnelError",
    "StreamFrame",
    "TriggeredFrame",
    "ERROR_TEXT",
    "FILE_FORMATS",
    "MODELS",
    "REGISTER_ADDRESS_LIMITS",
    "TRIGGER_MODELS",
    "devices",
    "version",
]
