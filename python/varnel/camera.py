"""The Camera class: one camera handle of the library, frames as NumPy arrays."""

import collections
import ctypes
import errno
import operator
import os
import time

import numpy as np

from . import _lib

ERROR_TEXT = {
    1: "no camera driver attached to the instance",
    2: "the camera drive could not be selected, or another program is using the camera",
    3: "a worker thread or its event could not be created",
    4: "the preview window could not be created",
    5: "memory or buffer problem (or no picture taken yet)",
    6: "the camera refused a register or sync command",
    7: "capture window not allowed or not valid",
    8: "a frame could not be read from the camera",
    9: "argument out of range",
    11: "operation not supported",
}

MODELS = ("HWH8", "HXA1", "HXB2", "HXE5", "HXC3", "R2T", "HYD4", "HZF6", "HZG7")

# The models that take triggers.
TRIGGER_MODELS = ("HXA1", "HZG7")

# The largest sensor register address of each model: 16-bit addresses on
# HXC3, 10-bit ones on HYD4, HZF6 and HZG7, 8-bit ones on the others.
REGISTER_ADDRESS_LIMITS = {"HXC3": 0xFFFF, "HYD4": 0x3FF, "HZF6": 0x3FF, "HZG7": 0x3FF}

# One triggered frame: the camera's frame number and the wall-clock
# microsecond (low 32 bits) its trigger fired, both as the virtual camera
# head stamps them into the picture (None from a camera that stamps
# nothing, or a picture too small or mirrored to read them from).
TriggeredFrame = collections.namedtuple("TriggeredFrame", "picture number trigger_time")



class StreamFrame(np.ndarray):
    """A frame of :meth:`Camera.stream`: the picture as an array (the shape
    and dtype :meth:`Camera.snap` gives), with

    - ``number``: the camera's frame number, as the virtual camera head stamps
      it into the picture (None from a camera that stamps none, or a picture
      too small or mirrored to read it from);
    - ``arrival``: when the library's frame message was taken, in seconds on
      :func:`time.monotonic`'s clock (comparable across cameras);
    - ``dropped``: how many frames the camera sent since the stream's first
      one that never reached the program, so far (None without numbers).
      The library's wait before each frame (``wait_time``, 10 ms for a new
      user) alone loses frames above about 90 a second.

    ``picture`` is the same pixels as a plain array."""

    number = None
    arrival = None
    dropped = None

    def __array_finalize__(self, obj):
        if obj is not None:
            self.number = getattr(obj, "number", None)
            self.arrival = getattr(obj, "arrival", None)
            self.dropped = getattr(obj, "dropped", None)

    @property
    def picture(self):
        return self.view(np.ndarray)


FILE_FORMATS = {"bmp": 0, "raw": 1, "jpg": 2, "jpeg": 2, "png": 5, "tif": 6, "tiff": 6}

_FRAME_MESSAGE = 0x8002

# Colour mode -> (channels, dtype) of the arrays handed out. Colour pictures
# come in red, green, blue order (the library's own order is blue first).
_MONO_MODES = {8: np.uint8, 10: np.uint16, 12: np.uint16, 14: np.uint16, 16: np.uint16}
_COLOUR_MODES = {24: (3, np.uint8), 32: (4, np.uint8), 30: (3, np.uint16), 36: (3, np.uint16),
                 42: (3, np.uint16), 48: (3, np.uint16), 64: (4, np.uint16),
                 640: (4, np.uint16), 768: (4, np.uint16), 896: (4, np.uint16)}
_MODE_LIST = tuple(_MONO_MODES) + tuple(_COLOUR_MODES)


class VarnelError(Exception):
    """A failure the library reported; `code` is its error code (0 when it gave none)."""

    def __init__(self, code, operation, codes=(), detail=None):
        self.code = code
        self.codes = tuple(codes) or ((code,) if code else ())
        self.operation = operation
        text = ERROR_TEXT.get(code, "the library gave no error code" if code == 0 else "unknown error")
        super().__init__(f"{operation} failed: error {code} ({text})" + (f": {detail}" if detail else ""))


def version():
    """The library's version as the number it reports (0x00C90502 for
    201.5.2); the package's own version is ``varnel.__version__``."""
    return _lib.library().Varnel_GetDllVersion()


def _whole(value, name):
    """`value` as an int; TypeError for anything that is not a whole number
    (a float is refused rather than cut: 120.7 is not 120)."""
    if isinstance(value, bool):
        return int(value)
    try:
        return operator.index(value)
    except TypeError:
        raise TypeError(f"{name} takes a whole number, not {value!r}") from None


def _positive_or_none(value, name):
    if value is not None and not value > 0:
        raise ValueError(f"{name} must be more than 0, or None, not {value!r}")
    return value


def _check_writable(path):
    """Raises the OSError the system gives when a file cannot be written at
    `path` (a missing directory, no permission, a directory of that name). A
    file that is not there yet is created and removed again."""
    if os.path.isdir(path):
        raise IsADirectoryError(errno.EISDIR, os.strerror(errno.EISDIR), path)
    existed = os.path.exists(path)
    with open(path, "ab"):
        pass
    if not existed:
        os.remove(path)


def _drives_directory():
    """Where the library finds camera drives on Linux (as it looks for them)."""
    explicit = os.environ.get("VARNEL_DRIVES")
    if explicit:
        return explicit
    config = os.environ.get("XDG_CONFIG_HOME") or os.path.join(os.path.expanduser("~"), ".config")
    return os.path.join(config, "varnel", "drives")


def _read_stamp(raw, width, height, bits_per_pixel, row_bytes, top):
    """A stamp of the virtual head from a picture the library copied (rows top
    first): 32 cells of 4 x 8 pixels from row `top`, bit 0 first, the bit in a
    cell's upper half and its complement in the lower. A pixel is bright when
    its brightest colour byte is at least half scale. None when no stamp."""
    if width < 128 or height < top + 8:
        return None
    pixel_bytes = bits_per_pixel // 8
    sample_bytes = {32: 3, 64: 6}.get(bits_per_pixel, pixel_bytes)
    rows = np.frombuffer(raw, dtype=np.uint8, count=row_bytes * height).reshape(height, row_bytes)

    def bright(x, y):
        return rows[y, x * pixel_bytes : x * pixel_bytes + sample_bytes].max() >= 0x80

    number = 0
    for bit in range(32):
        upper = bright(bit * 4 + 1, top + 2)
        if upper == bright(bit * 4 + 1, top + 5):
            return None
        number |= int(upper) << bit
    return number


def _layout(mode):
    """(channels, dtype) of mode's pictures; channels 1 for monochrome."""
    if mode in _MONO_MODES:
        return 1, np.dtype(_MONO_MODES[mode])
    channels, dtype = _COLOUR_MODES[mode]
    return channels, np.dtype(dtype)


class _Closing:
    """A context manager that closes itself at the end of the block, and when
    it is collected."""

    __slots__ = ()

    def close(self):
        raise NotImplementedError

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass


class Camera(_Closing):
    """One camera: a drive and a camera type.

    ``device`` is an index into :meth:`devices` or a drive name such as
    ``"V:"`` (default: the first camera drive). ``camera_type`` is 0..10 or
    a model name (``"HXA1"``). Use it as a context manager, or call
    :meth:`close`.

    Settings are properties under the names ``varnelcam settings`` and
    ``varnelcam info`` use (with ``_`` for ``-``); an attribute the camera
    does not have cannot be set (a misspelt setting raises AttributeError
    instead of being kept), and values must be whole numbers.
    """

    __slots__ = ("_lib", "_handle", "_queue", "_streaming", "_drive", "_camera_type")

    def __init__(self, device=0, camera_type=1):
        self._handle = 0
        self._queue = None
        # The type is checked first: a wrong one is the caller's mistake
        # whether or not a camera is attached.
        if isinstance(camera_type, str):
            if camera_type.upper() not in MODELS:
                raise ValueError(f"unknown camera model {camera_type!r} (one of {', '.join(MODELS)})")
            camera_type = MODELS.index(camera_type.upper())
        camera_type = _whole(camera_type, "camera_type")
        if not 0 <= camera_type <= 10:
            raise ValueError(f"unknown camera type {camera_type} (0..10, or one of {', '.join(MODELS)})")
        self._camera_type = camera_type
        self._lib = _lib.library()
        self._handle = self._lib.Varnel_Initialize(None)
        if not self._handle:
            raise VarnelError(5, "creating a camera instance")
        self._streaming = False
        try:
            self._drain("initialising the library", strict=True)
            drives = self.devices()
            if not drives:
                raise VarnelError(2, "finding a camera (no camera drive is attached)")
            if isinstance(device, str):
                wanted = device.upper() if device.endswith(":") else device.upper() + ":"
                if wanted not in drives:
                    raise VarnelError(2, f"finding camera drive {device} (drives: {', '.join(drives)})")
                index = drives.index(wanted)
            else:
                index = _whole(device, "device")
                if not 0 <= index < len(drives):
                    raise VarnelError(2, f"finding camera drive {device} ({len(drives)} attached)")
            self._drive = drives[index]
            self._check(self._lib.Varnel_SetDeviceNumber(self._handle, index), f"selecting drive {self.drive}")
            if self._lib.Varnel_SetCameraType(self._handle, self.camera_type) != 1:
                codes = self._pop()
                # Error 7 alone: the stored window did not fit and the whole
                # sensor is used instead; the camera is usable.
                if any(code != 7 for code in codes) or not codes:
                    raise VarnelError(codes[0] if codes else 0, f"setting camera type {self.camera_type}", codes)
        except BaseException:
            self.close()
            raise

    @property
    def drive(self):
        """The camera's drive ("V:")."""
        return self._drive

    @property
    def camera_type(self):
        """The camera type 0..10 (types 9 and 10 drive the same model as 1)."""
        return self._camera_type

    @property
    def model(self):
        """The model the camera type drives ("HXA1")."""
        return MODELS[self._camera_type if self._camera_type <= 8 else 1]

    # ---- life cycle -------------------------------------------------------

    def close(self):
        """Stops acquisition and releases the camera (stored settings are saved)."""
        if self._handle:
            self._lib.Varnel_Close(self._handle)
            self._pop()
            self._lib.Varnel_Release(self._handle)
            self._handle = 0
        if self._queue:
            self._lib.VarnelPosix_DestroyMessageQueue(self._queue)
            self._queue = None


    # ---- errors -------------------------------------------------------------

    def _pop(self):
        codes = []
        if self._handle:
            while True:
                code = self._lib.Varnel_GetLastError(self._handle)
                if code == 0:
                    break
                codes.append(code)
        return codes

    def _drain(self, operation, strict=False):
        codes = self._pop()
        if strict and codes:
            raise VarnelError(codes[0], operation, codes)

    def _check(self, result, operation, success=1, detail=None):
        if result != success:
            codes = self._pop()
            code = codes[0] if codes else 0
            # The range goes with a refused value (9) and a refused window (7).
            raise VarnelError(code, operation, codes, detail if code in (7, 9) else None)
        return result

    def _live(self):
        if not self._handle:
            raise VarnelError(0, "using a closed camera")
        return self._handle

    # ---- device ---------------------------------------------------------------

    def devices(self):
        """The camera drives the library lists ("V:" each)."""
        drives = _lib.device_names(self._lib, self._live())
        self._pop()
        return drives

    @property
    def info(self):
        """The model's limits as a dict."""
        record = _lib.CameraInfo()
        record.size = ctypes.sizeof(record)
        self._check(self._lib.Varnel_GetCameraInfo(self._live(), ctypes.byref(record)), "reading camera limits")
        return {name: getattr(record, name) for name, _ in _lib.CameraInfo._fields_ if name != "size"}

    # ---- capture format -----------------------------------------------------------

    @property
    def color_mode(self):
        """Bits per pixel: 8, 10, 12, 14, 16 (monochrome), 24, 32, 30, 36, 42,
        48, 64 (colour; 640, 768 and 896 read back as 64)."""
        return self._lib.Varnel_GetColorMode(self._live())

    @color_mode.setter
    def color_mode(self, mode):
        mode = _whole(mode, "color_mode")
        self._check(self._lib.Varnel_SetColorMode(self._live(), mode), f"setting color_mode to {mode}",
                    detail=f"color_mode takes {', '.join(str(m) for m in _MODE_LIST)}")

    @property
    def subsample(self):
        """0 full, 1 half, 2 quarter resolution."""
        return self._lib.Varnel_GetSubSample(self._live())

    @subsample.setter
    def subsample(self, mode):
        mode = _whole(mode, "subsample")
        if self._lib.Varnel_SetSubSample(self._live(), mode) != 1:
            detail = ("subsample takes 0..2" if not 0 <= mode <= 2
                      else "it leaves the capture window no picture")
            raise VarnelError(9, f"setting subsample to {mode}", detail=detail)

    @property
    def wait_time(self):
        """Milliseconds waited before each streamed frame is handled (0 or more)."""
        return self._lib.Varnel_GetWaitTime(self._live())

    @wait_time.setter
    def wait_time(self, milliseconds):
        milliseconds = _whole(milliseconds, "wait_time")
        if self._lib.Varnel_SetWaitTime(self._live(), milliseconds) != 1:
            raise VarnelError(9, f"setting wait_time to {milliseconds}", detail="wait_time takes 0 or more")

    @property
    def window(self):
        """The capture window as (x, y, width, height) on the sensor."""
        values = [ctypes.c_int() for _ in range(6)]
        self._lib.Varnel_GetCaptureWindowEx(self._live(), *[ctypes.byref(v) for v in values])
        _, x, width, _, y, height = (v.value for v in values)
        return (x, y, width, height)

    @window.setter
    def window(self, rect):
        x, y, width, height = (_whole(v, "window") for v in rect)
        limits = self.info
        if self.camera_type in (6, 7, 8):
            # The library takes any window on these models and captures the
            # whole sensor all the same.
            raise ValueError(f"the {self.model} always captures its whole sensor "
                             f"({limits['maxWidth']} x {limits['maxHeight']}): its window cannot be set")
        self._check(self._lib.Varnel_SetCaptureWindowEx(self._live(), 0, x, width, 0, y, height),
                    f"setting window to {width}x{height}+{x}+{y}",
                    detail=f"the window must lie within {limits['maxWidth']} x {limits['maxHeight']}")

    @property
    def picture_size(self):
        """(width, height) of the pictures acquisition delivers now."""
        width = self._lib.Varnel_Width(self._live())
        height = self._lib.Varnel_Height(self._handle)
        if self.camera_type in (6, 7, 8):
            # These three models always capture their whole sensor.
            limits = self.info
            width, height = limits["maxWidth"], limits["maxHeight"]
        factor = 1 << self.subsample if self.subsample in (1, 2, 3) else 1
        return width // factor, height // factor

    # ---- sensor settings ---------------------------------------------------------

    def _flag(self, on, name):
        on = _whole(on, name)
        if on not in (0, 1):
            raise ValueError(f"{name} takes 0 or 1 (False or True), not {on}")
        return on

    @property
    def mirror_h(self):
        """The horizontal mirror (False or True)."""
        return bool(self._lib.Varnel_GetMirrorH(self._live()))

    @mirror_h.setter
    def mirror_h(self, on):
        self._lib.Varnel_SetMirrorH(self._live(), self._flag(on, "mirror_h"))
        self._drain("setting the horizontal mirror", strict=True)

    @property
    def mirror_v(self):
        """The vertical mirror (False or True)."""
        return bool(self._lib.Varnel_GetMirrorV(self._live()))

    @mirror_v.setter
    def mirror_v(self, on):
        self._lib.Varnel_SetMirrorV(self._live(), self._flag(on, "mirror_v"))
        self._drain("setting the vertical mirror", strict=True)

    @property
    def auto_iris(self):
        """0 off, 1 by exposure, 2 by gain."""
        return self._lib.Varnel_GetAutoIris(self._live(), None)

    @auto_iris.setter
    def auto_iris(self, mode):
        mode = _whole(mode, "auto_iris")
        self._check(self._lib.Varnel_SetAutoIris(self._live(), mode), f"setting auto_iris to {mode}",
                    detail="auto_iris takes 0..2")

    def _register_address(self, address):
        address = _whole(address, "register address")
        limit = REGISTER_ADDRESS_LIMITS.get(self.model, 0xFF)
        if not 0 <= address <= limit:
            raise ValueError(f"register address {address:#x} is not one of the {self.model}'s "
                             f"(0..{limit:#x})")
        return address

    def read_register(self, address):
        """The 16-bit sensor register at `address` (0..0xFF; 0..0xFFFF on
        HXC3, 0..0x3FF on HYD4, HZF6 and HZG7, whose registers hold up to 24
        bits: the low 16 are read)."""
        address = self._register_address(address)
        valid = ctypes.c_int(0)
        value = self._lib.Varnel_ReadRegister(self._live(), address, ctypes.byref(valid))
        self._check(valid.value, f"reading register {address:#x}")
        return value

    def write_register(self, address, value):
        """Writes `value` (0..0xFFFF) to the sensor register at `address`
        (the ranges of :meth:`read_register`; on the 24-bit registers the bits
        above 16 become 0)."""
        address = self._register_address(address)
        value = _whole(value, "register value")
        if not 0 <= value <= 0xFFFF:
            raise ValueError(f"register value {value} is outside 0..{0xFFFF:#x}")
        self._check(self._lib.Varnel_WriteRegister(self._live(), address, value),
                    f"writing register {address:#x}")

    def _get_filter(self, identifier, name):
        valid = ctypes.c_int(0)
        value = self._lib.Varnel_GetFilterValue(self._live(), identifier, ctypes.byref(valid))
        self._check(valid.value, f"reading {name}")
        return value

    def _set_filter(self, identifier, name, value):
        value = _whole(value, name)
        if identifier in (13, 18):
            limits = self.info
            low, high = ((limits["gainMin"], limits["gainMax"]) if identifier == 13
                         else (limits["exposureMin"], limits["exposureMax"]))
            allowed = f"{low}..{high} on the {self.model}"
        else:
            allowed = _FILTERS[name][1]
        self._check(self._lib.Varnel_SetFilterValue(self._live(), identifier, value),
                    f"setting {name} to {value}", detail=f"{name} takes {allowed}")

    # ---- acquisition -------------------------------------------------------------

    def _picture_buffer(self):
        mode = self.color_mode
        channels, dtype = _layout(mode)
        width, height = self.picture_size
        row_bytes = (width * channels * dtype.itemsize + 3) & ~3
        return mode, width, height, row_bytes, ctypes.create_string_buffer(row_bytes * height)

    @staticmethod
    def _to_array(raw, mode, width, height, row_bytes):
        """One picture copied by the library (rows top first, padded to four
        bytes) as an array of shape (height, width[, channels])."""
        channels, dtype = _layout(mode)
        rows = np.frombuffer(raw, dtype=np.uint8, count=row_bytes * height).reshape(height, row_bytes)
        pixels = rows[:, : width * channels * dtype.itemsize].copy().view(dtype)
        if channels == 1:
            return pixels.reshape(height, width)
        pixels = pixels.reshape(height, width, channels)
        order = [2, 1, 0] + ([3] if channels == 4 else [])
        picture = np.ascontiguousarray(pixels[:, :, order])
        if channels == 4:
            # The fourth sample is opaque alpha, as the PNG and TIFF files of
            # the same frame hold it: 255 minus the library's unused fourth
            # byte (which it leaves 0), and 65535 in the 64-bit modes.
            if dtype.itemsize == 1:
                picture[:, :, 3] = 255 - picture[:, :, 3]
            else:
                picture[:, :, 3] = 65535
        return picture

    @property
    def takes_triggers(self):
        """Whether the camera's model takes triggers (HXA1 and HZG7 do)."""
        return MODELS[self.camera_type if self.camera_type <= 8 else 1] in TRIGGER_MODELS

    def triggered(self, frames=None, timeout=30.0):
        """Arms triggered acquisition at once and returns an iterator that
        yields a :class:`TriggeredFrame` for each trigger, until ``frames``
        were yielded (without it: until it is closed). Acquisition stops when
        the iterator ends or is closed (it is a context manager too). Raises
        VarnelError when arming fails (11 on a model that takes no triggers)
        and, while iterating, when no frame comes within ``timeout`` seconds.

            with camera.triggered(frames=5) as frames:
                camera.fire(rate=10, count=5)
                for frame in frames:
                    print(frame.number, frame.picture.mean())
        """
        if frames is not None and _whole(frames, "frames") < 1:
            raise ValueError(f"frames must be 1 or more, or None, not {frames}")
        _positive_or_none(timeout, "timeout")
        return _Triggers(self, frames, timeout)

    def _head_file(self, name):
        """A file of the virtual camera head (varnel-camsim) that serves this
        camera's drive, found through the drives directory."""
        root = os.path.join(_drives_directory(), self.drive[0].lower() + ":")
        if not os.path.exists(root):
            root = os.path.join(_drives_directory(), self.drive[0].upper() + ":")
        path = os.path.join(root, name)
        if not os.path.exists(path):
            raise VarnelError(0, f"reaching the trigger input (drive {self.drive} is no virtual camera head)")
        return path

    def fire(self, rate=None, count=1):
        """Fires the virtual camera head's trigger: once now, or with ``rate``
        (Hz) ``count`` times at that steady rate, whether or not the frames
        are read. One trigger returns whether it started a frame (False: the
        head was not waiting for triggers, or held two frames not yet read).
        Only a virtual head (varnel-camsim) has a trigger input to fire."""
        _positive_or_none(rate, "rate")
        if _whole(count, "count") < 1:
            raise ValueError(f"count must be 1 or more, not {count}")
        path = self._head_file("trigger")
        command = b"1" if rate is None else f"rate {float(rate)} {count}".encode()
        try:
            with open(path, "wb", buffering=0) as trigger:
                trigger.write(command)
        except OSError as error:
            if error.errno == errno.EAGAIN:
                return False
            raise
        return True

    def trigger_counts(self):
        """What became of the virtual head's triggers: a dict of 'armed',
        'fired', 'taken', 'ignored', 'overrun', 'cleared', 'read' and
        'readout-us' (the head's read-out time of one frame)."""
        with open(self._head_file("triggers")) as report:
            return {key: float(value) if "." in value else int(value)
                    for key, value in (line.split() for line in report if line.strip())}

    def snap(self):
        """Takes one frame and returns it as a NumPy array: (height, width)
        for monochrome modes, (height, width, 3 or 4) in red, green, blue
        (, alpha) order for colour modes; uint8 for 8-bit samples, uint16
        for deeper ones. The alpha of the 32- and 64-bit modes is opaque (255
        or 65535), as in the PNG and TIFF files :meth:`save` writes."""
        handle = self._live()
        if self._streaming:
            raise VarnelError(0, "snapshot while streaming")
        mode, width, height, row_bytes, raw = self._picture_buffer()
        self._check(self._lib.Varnel_SnapShot(handle, raw, len(raw), 1), "snapshot")
        return self._to_array(raw, mode, width, height, row_bytes)

    def save(self, path, file_format=None):
        """Saves the last picture taken through the library; the format comes
        from the name's extension unless given (bmp, raw, jpg, png, tif)."""
        name = os.fspath(path)
        key = (file_format or name.rsplit(".", 1)[-1]).lower()
        if key not in FILE_FORMATS:
            raise ValueError(f"unknown picture format {key!r} (bmp, raw, jpg, png, tif)")
        handle = self._live()
        # The library does not say why the system refused a file: a path that
        # cannot be written raises the system's own OSError, before and (a
        # file that went away meanwhile) after the library's attempt.
        _check_writable(name)
        if self._lib.Varnel_SaveImage(handle, os.fsencode(name), FILE_FORMATS[key]) != 1:
            codes = self._pop()
            if codes:
                raise VarnelError(codes[0], f"saving {name}", codes)
            _check_writable(name)
            raise VarnelError(0, f"saving {name}", detail="the system did not let the library write "
                              "the whole file (a full disk, an I/O error)")

    def stream(self, frames=None, seconds=None, timeout=30.0):
        """Streams frames, yielding each as a :class:`StreamFrame`: the array
        :meth:`snap` returns, with the camera's frame number, its arrival
        time and the frames dropped so far. Runs until ``frames`` were
        yielded or ``seconds`` passed (without either: until the loop stops).
        Acquisition stops when the iterator is closed. Raises VarnelError
        when no frame comes within ``timeout`` seconds, and at once
        ValueError for a count or time of 0 or less. Several cameras may
        stream at once, each from its own :class:`Camera`."""
        if frames is not None and _whole(frames, "frames") < 1:
            raise ValueError(f"frames must be 1 or more, or None, not {frames}")
        _positive_or_none(seconds, "seconds")
        _positive_or_none(timeout, "timeout")
        return self._stream(frames, seconds, timeout)

    def _stream(self, frames, seconds, timeout):
        handle = self._live()
        if self._queue is None:
            self._queue = self._lib.VarnelPosix_CreateMessageQueue()
            if not self._queue:
                raise VarnelError(5, "creating a message queue")
        mode, width, height, row_bytes, raw = self._picture_buffer()
        channels, dtype = _layout(mode)
        bits = channels * dtype.itemsize * 8
        message = _lib.PosixMessage()
        while self._lib.VarnelPosix_ReadMessage(self._queue, ctypes.byref(message), 0) == 1:
            pass  # messages of an earlier stream
        self._check(self._lib.Varnel_CallBackPreview(handle, self._queue, raw, len(raw), 1), "starting the stream")
        self._streaming = True
        start = time.monotonic()
        yielded = 0
        first = last = None  # the first and the newest frame number seen
        numbered = True  # every frame so far carried a number
        try:
            while frames is None or yielded < frames:
                if seconds is not None and time.monotonic() - start >= seconds:
                    break
                wait = timeout
                if seconds is not None:
                    wait = min(wait, max(0.0, seconds - (time.monotonic() - start)) + 0.001)
                got = self._lib.VarnelPosix_ReadMessage(self._queue, ctypes.byref(message), int(wait * 1000))
                if got != 1:
                    if seconds is not None and time.monotonic() - start >= seconds:
                        break
                    raise VarnelError(8, f"waiting {timeout} s for a frame")
                if message.message != _FRAME_MESSAGE:
                    continue
                # The buffer holds the newest frame the library copied: when
                # the program fell behind, the messages already waiting are
                # of frames overwritten since, and the newest one counts.
                latest = _lib.PosixMessage()
                while message.wParam and self._lib.VarnelPosix_ReadMessage(
                        self._queue, ctypes.byref(latest), 0) == 1:
                    if latest.message == _FRAME_MESSAGE:
                        ctypes.memmove(ctypes.byref(message), ctypes.byref(latest), ctypes.sizeof(message))
                if message.wParam == 0:
                    code = int(message.lParam)
                    # Code 8 while streaming: the camera's frame reads have
                    # kept failing (pulled out, or its volume went away).
                    what = "streaming (the camera stopped sending frames)" if code == 8 else "delivering a frame"
                    raise VarnelError(code, what, self._pop() or (code,))
                arrival = time.monotonic()
                number = _read_stamp(raw, width, height, bits, row_bytes, 0)
                if number is not None and last is not None and number <= last:
                    # The library copied this frame into the buffer before it
                    # posted the frame's message, so the previous message
                    # already handed this picture out: not again.
                    continue
                frame = self._to_array(raw, mode, width, height, row_bytes).view(StreamFrame)
                frame.number, frame.arrival = number, arrival
                yielded += 1
                numbered = numbered and number is not None
                if numbered:
                    first = number if first is None else first
                    last = number if last is None else max(last, number)
                    frame.dropped = max(0, last - first + 1 - yielded)
                yield frame
        finally:
            self._streaming = False
            if self._handle:
                self._lib.Varnel_StopPreview(self._handle)


class _Triggers(_Closing):
    """The iterator of :meth:`Camera.triggered`: armed from its making until
    it ends or is closed."""

    __slots__ = ("_camera", "_frames", "_timeout", "_yielded", "_mode", "_width", "_height",
                 "_row_bytes", "_raw", "_bits", "_message", "_armed")

    def __init__(self, camera, frames, timeout):
        self._armed = False
        self._camera = camera
        self._frames = frames
        self._timeout = timeout
        self._yielded = 0
        lib = camera._lib
        handle = camera._live()
        if camera._streaming:
            raise VarnelError(0, "arming the trigger while acquiring")
        if camera._queue is None:
            camera._queue = lib.VarnelPosix_CreateMessageQueue()
            if not camera._queue:
                raise VarnelError(5, "creating a message queue")
        self._mode, self._width, self._height, self._row_bytes, self._raw = camera._picture_buffer()
        channels, dtype = _layout(self._mode)
        self._bits = channels * dtype.itemsize * 8
        self._message = _lib.PosixMessage()
        while lib.VarnelPosix_ReadMessage(camera._queue, ctypes.byref(self._message), 0) == 1:
            pass  # messages of an earlier acquisition
        camera._check(lib.Varnel_Trigger(handle, camera._queue, self._raw, len(self._raw), 1),
                      "arming the trigger")
        camera._streaming = True
        self._armed = True

    def __iter__(self):
        return self

    def __next__(self):
        if not self._armed or (self._frames is not None and self._yielded >= self._frames):
            self.close()
            raise StopIteration
        camera = self._camera
        message = self._message
        try:
            while True:
                got = camera._lib.VarnelPosix_ReadMessage(camera._queue, ctypes.byref(message),
                                                          int(self._timeout * 1000))
                if got != 1:
                    raise VarnelError(8, f"waiting {self._timeout} s for a triggered frame")
                if message.message != _FRAME_MESSAGE:
                    continue
                if message.wParam == 0:
                    raise VarnelError(int(message.lParam), "delivering a triggered frame")
                break
        except BaseException:
            self.close()
            raise
        raw, bits, row_bytes = self._raw, self._bits, self._row_bytes
        number = _read_stamp(raw, self._width, self._height, bits, row_bytes, 0)
        fired = _read_stamp(raw, self._width, self._height, bits, row_bytes, 8) if number is not None else None
        picture = camera._to_array(raw, self._mode, self._width, self._height, row_bytes)
        self._yielded += 1
        return TriggeredFrame(picture, number, fired)

    def close(self):
        """Stops triggered acquisition."""
        if self._armed:
            self._armed = False
            self._camera._streaming = False
            if self._camera._handle:
                self._camera._lib.Varnel_StopPreview(self._camera._handle)



# Filter values as properties: name -> (identifier, range, what it is).
_FILTERS = {
    "brightness": (1, "-255..255", None),
    "contrast": (2, "-127..127", None),
    "hue": (3, "-360..360", None),
    "saturation": (4, "-255..255", None),
    "sharpness": (5, "0..30", None),
    "bayer_gain_red": (7, "0..400", None),
    "bayer_gain_green": (8, "0..400", None),
    "bayer_gain_blue": (9, "0..400", None),
    "bayer_gain_auto": (10, "0..1", None),
    "gamma": (11, "0..200", "100 leaves the picture unchanged"),
    "bayer_mode": (12, "0..3", "the colour filter phase"),
    "gain": (13, "the model's own range (Camera.info: gainMin..gainMax)",
             "the sensor's global gain, sent to it unchanged: on HXA1, HXB2 and R2T steps of "
             "its gain register 53 (0x35); on HYD4 and HZF6 of wide registers 6 and 7; on HZG7 "
             "of wide register 4; HWH8, HXE5 and HXC3 have no gain register (stored only)"),
    "exposure": (18, "the model's own range (Camera.info: exposureMin..exposureMax)",
                 "the sensor's exposure, sent to it unchanged and counted in the units of its "
                 "exposure register, whose duration the camera does not report: register 9 on "
                 "HXA1 and HXB2, 11 on R2T, 82 on HXE5, 0x3166 on HXC3, wide registers 158 and "
                 "159 on HYD4 and HZF6 (sent as 8..1068), wide register 154 on HZG7; HWH8 has no "
                 "exposure register (stored only)"),
    "gray_mode": (19, "0..2", None),
    "gray_gain_r": (20, "0..255", "128 = x1"),
    "gray_gain_g1": (21, "0..255", "128 = x1"),
    "gray_gain_g2": (22, "0..255", "128 = x1"),
    "gray_gain_b": (23, "0..255", "128 = x1"),
    "gray_offset_r": (24, "-255..255", None),
    "gray_offset_g1": (25, "-255..255", None),
    "gray_offset_g2": (26, "-255..255", None),
    "gray_offset_b": (27, "-255..255", None),
}


def _filter_property(name, identifier, allowed, meaning):
    def getter(self):
        return self._get_filter(identifier, name)

    def setter(self, value):
        self._set_filter(identifier, name, value)

    doc = f"{name}: {allowed}" + (f"; {meaning}" if meaning else "") + ". Stored when the camera is closed."
    return property(getter, setter, doc=doc)


for _name, (_identifier, _allowed, _meaning) in _FILTERS.items():
    setattr(Camera, _name, _filter_property(_name, _identifier, _allowed, _meaning))
