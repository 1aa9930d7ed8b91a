"""The varnel package against a virtual camera head (varnel-camsim)."""

import os
import subprocess
import sys
import time

import numpy as np
import pytest

import varnel

# HXA1's sensor at a quarter of 2044 x 1536: 511 x 384, a width whose rows
# the library pads (511 x 3 bytes is no multiple of four), so a picture that
# kept the padding would come out sheared.
WINDOW = (0, 0, 2044, 1536)
WIDTH, HEIGHT = 511, 384

# The head's colour bars over the top half: white, yellow, cyan, green,
# magenta, red, blue, black (red, green, blue on or off).
BARS = [(1, 1, 1), (1, 1, 0), (0, 1, 1), (0, 1, 0), (1, 0, 1), (1, 0, 0), (0, 0, 1), (0, 0, 0)]


def bar_column(bar):
    return int((bar + 0.5) * WIDTH / 8)


def read_stamp(picture):
    """The frame number the head stamps into the top-left corner: 32 cells of
    4 x 8 pixels, the bit in the upper half, its complement in the lower."""
    number = 0
    full = picture.max()
    for bit in range(32):
        upper = picture[2, bit * 4 + 1] > full // 2
        lower = picture[5, bit * 4 + 1] > full // 2
        assert upper != lower, f"no stamp at bit {bit}"
        number |= int(upper) << bit
    return number


# Fault caught: colour pictures handed out in the library's blue-first order,
# rows that keep their padding (a sheared picture), a dtype that cuts deep
# samples to 8 bits or a shape that loses the channels.
@pytest.mark.parametrize(
    "mode, channels, dtype",
    [
        (8, 1, np.uint8),
        (12, 1, np.uint16),
        (24, 3, np.uint8),
        (32, 4, np.uint8),
        (48, 3, np.uint16),
        (64, 4, np.uint16),
    ],
)
def test_snap_gives_the_shape_dtype_and_colours_of_each_mode(camera, mode, channels, dtype):
    camera.window = WINDOW
    camera.subsample = 2
    camera.color_mode = mode
    picture = camera.snap()
    expected_shape = (HEIGHT, WIDTH) if channels == 1 else (HEIGHT, WIDTH, channels)
    assert picture.shape == expected_shape
    assert picture.dtype == dtype
    for row in (8, HEIGHT // 2 - 8):  # near the top and the bottom of the bars
        if channels == 1:
            # Monochrome modes of a colour sensor hold its mosaic: the white
            # bar bright, the black bar dark, in every row.
            white = int(picture[row, bar_column(0)])
            assert white > int(picture.max()) // 2
            assert int(picture[row, bar_column(7)]) < white // 8
            continue
        white = picture[row, bar_column(0), :3].astype(int)
        assert (white > 0).all()
        for bar, on in enumerate(BARS):
            rgb = picture[row, bar_column(bar), :3].astype(int)
            for c in range(3):
                if on[c]:
                    assert rgb[c] > white[c] // 2, (mode, row, bar, rgb.tolist())
                else:
                    assert rgb[c] < white[c] // 4, (mode, row, bar, rgb.tolist())


# Fault caught: the same frame handed out twice, frames out of order, or an
# acquisition left running after the loop ends (the next snapshot fails).
@pytest.mark.parametrize("stop", ["count", "break"])
def test_stream_yields_successive_frames_and_stops(camera, stop):
    camera.color_mode = 8
    stamps = []
    if stop == "count":
        for frame in camera.stream(frames=5):
            assert frame.shape == (1536, 2048)
            stamps.append(read_stamp(frame))
    else:
        for frame in camera.stream():
            stamps.append(read_stamp(frame))
            if len(stamps) == 3:
                break
    assert len(stamps) == (5 if stop == "count" else 3)
    assert all(a < b for a, b in zip(stamps, stamps[1:])), stamps
    assert camera.snap().shape == (1536, 2048)


# Fault caught: a stream's frames not told apart (no camera frame number,
# arrival times out of order) or frames lost without a word: with the
# library waiting 100 ms before each frame of a 60 frames-a-second head the
# frame numbers skip, and `dropped` must count exactly the skipped ones.
def test_stream_frames_carry_their_number_arrival_and_the_frames_dropped(head_factory):
    head_factory("HXA1", fps=60)
    with varnel.Camera("V:", "HXA1") as camera:
        camera.window = (0, 0, 256, 64)
        camera.wait_time = 100
        frames = list(camera.stream(frames=12))
    numbers = [frame.number for frame in frames]
    assert None not in numbers
    assert all(a < b for a, b in zip(numbers, numbers[1:])), numbers
    assert all(a.arrival <= b.arrival for a, b in zip(frames, frames[1:]))
    for count, frame in enumerate(frames, start=1):
        assert frame.dropped == frame.number - numbers[0] + 1 - count
    assert frames[-1].dropped > 0, numbers
    assert isinstance(frames[0].picture, np.ndarray) and frames[0].shape == (64, 256, 3)


# Fault caught: two cameras of one program that cannot stream at once (the
# second start failing or stopping the first), or whose frames cross: each
# camera's frames come from its own head (its own window size), in order,
# none lost to the other's stream.
def test_two_cameras_stream_at_once(head_factory):
    head_factory("HXA1", fps=60, letter="v")
    head_factory("HXB2", fps=60, letter="w")
    with varnel.Camera("V:", "HXA1") as first, varnel.Camera("W:", "HXB2") as second:
        for camera, width in ((first, 256), (second, 320)):
            camera.window = (0, 0, width, 64)
            camera.wait_time = 0
        pairs = list(zip(first.stream(frames=8), second.stream(frames=8)))
    assert len(pairs) == 8
    for index, camera in enumerate(("HXA1", "HXB2")):
        frames = [pair[index] for pair in pairs]
        assert all(frame.shape == (64, 256 + 64 * index, 3) for frame in frames), camera
        numbers = [frame.number for frame in frames]
        assert all(a < b for a, b in zip(numbers, numbers[1:])), (camera, numbers)


# Fault caught: a property that writes one filter and reads another, a value
# not stored when the camera closes, an out-of-range value taken silently.
def test_settings_are_properties_that_persist(head_factory):
    head_factory("HXA1")
    values = {"gamma": 150, "brightness": -20, "contrast": 12, "sharpness": 4, "exposure": 600,
              "gain": 20, "gray_gain_b": 90, "mirror_h": True, "auto_iris": 2}
    with varnel.Camera("V:", "HXA1") as camera:
        for name, value in values.items():
            setattr(camera, name, value)
        assert {name: getattr(camera, name) for name in values} == values
    with varnel.Camera(0, "HXA1") as camera:
        assert {name: getattr(camera, name) for name in values} == values


@pytest.mark.parametrize(
    "name, value, code",
    [("gamma", 999, 9), ("brightness", 300, 9), ("color_mode", 7, 9), ("auto_iris", 5, 9),
     ("window", (0, 0, 5000, 10), 7)],
)
def test_refused_settings_raise_with_the_library_code(camera, name, value, code):
    with pytest.raises(varnel.VarnelError) as error:
        setattr(camera, name, value)
    assert error.value.code == code
    assert varnel.ERROR_TEXT[code] in str(error.value)


# Fault caught: a missing camera or drive that crashes or returns a camera
# that fails later, a closed camera that still calls the library.
def test_missing_camera_and_closed_camera_raise(head_factory, drives):
    with pytest.raises(varnel.VarnelError, match="no camera drive") as error:
        varnel.Camera()
    assert error.value.code == 2
    head_factory("HXA1")
    assert varnel.devices() == ["V:"]
    with pytest.raises(varnel.VarnelError, match="Q:"):
        varnel.Camera("Q:")
    camera = varnel.Camera("V:")
    camera.close()
    with pytest.raises(varnel.VarnelError, match="closed camera"):
        camera.snap()


# Fault caught: save() passing the wrong format code, or saving before any
# picture reported as success.
def test_save_writes_the_format_of_the_name(camera, tmp_path):
    with pytest.raises(varnel.VarnelError) as error:
        camera.save(tmp_path / "early.png")
    assert error.value.code == 5
    camera.window = WINDOW
    camera.subsample = 2
    camera.snap()
    signatures = {"png": b"\x89PNG", "bmp": b"BM", "jpg": b"\xff\xd8\xff", "tif": b"II*\x00"}
    for extension, signature in signatures.items():
        path = tmp_path / f"frame.{extension}"
        camera.save(path)
        assert path.read_bytes()[: len(signature)] == signature, extension
    camera.save(tmp_path / "frame.raw")
    assert (tmp_path / "frame.raw").stat().st_size == ((WIDTH * 3 + 3) & ~3) * HEIGHT


# Fault caught: a camera pulled out mid-stream (the head's faults file:
# removed 1) never reported, so that stream() raises only when its own
# timeout runs out, or with another code; a head plugged in again unusable.
def test_stream_raises_at_once_when_the_camera_is_pulled_out(head_factory):
    head = head_factory("HXA1")
    with varnel.Camera("V:", "HXA1") as camera:
        camera.window = (0, 0, 256, 64)
        frames = camera.stream(timeout=3600)
        next(frames)
        head.set_faults("removed 1\n")
        with pytest.raises(varnel.VarnelError) as error:
            for _ in frames:
                pass
        assert error.value.code == 8
        assert "stopped sending frames" in str(error.value)
        head.set_faults("removed 0\n")
        assert camera.snap().shape == (64, 256, 3)


# Fault caught: register access on a camera that does not answer, stays busy
# or refuses the register (the faults file) reported as done; a faults file
# that does not show what was written to it.
@pytest.mark.parametrize("fault", ["no-answer 1", "stuck-busy 1", "refused-registers 0x35"])
def test_register_access_fails_on_each_camera_fault(head_factory, fault):
    head = head_factory("HXA1")
    with varnel.Camera("V:", "HXA1") as camera:
        camera.write_register(0x35, 0x0102)
        head.set_faults(fault + "\n")
        name, value = fault.split()
        assert head.faults()[name] == value
        with pytest.raises(varnel.VarnelError) as error:
            camera.read_register(0x35)
        assert error.value.code == 6
        head.set_faults(name + (" -" if name == "refused-registers" else " 0") + "\n")
        assert camera.read_register(0x35) == 0x0102


# Fault caught: a second camera object on a drive another one streams from
# that takes the camera over (stops and reprograms it) instead of failing
# with error 2, leaving the first one's stream broken.
def test_a_camera_in_use_refuses_a_second_user(head_factory):
    head_factory("HXA1")
    with varnel.Camera("V:", "HXA1") as first, varnel.Camera("V:", "HXA1") as second:
        first.window = (0, 0, 256, 64)
        second.window = (0, 0, 640, 480)
        frames = first.stream(frames=6)
        next(frames)
        with pytest.raises(varnel.VarnelError) as error:
            second.snap()
        assert error.value.code == 2
        assert "another program is using the camera" in str(error.value)
        assert all(frame.shape == (64, 256, 3) for frame in frames)
        assert second.snap().shape == (480, 640, 3)


# Fault caught: a drive list read into a buffer of fewer slots than drive
# letters (the library writes one 256-byte slot per drive), so that twelve
# camera drives are cut short or overrun it.
def test_devices_lists_twelve_camera_drives(head_factory, drives):
    head = head_factory("HXA1")
    for letter in "abcdefghijk":
        os.symlink(head.mount, drives / f"{letter}:")
        os.symlink(os.path.join(head.mount, "volume"), drives / f"{letter}::")
    assert varnel.devices() == [f"{letter}:" for letter in "ABCDEFGHIJKV"]


# Fault caught: triggered frames lost, repeated or out of order at a steady
# rate (the iterator arming late, after the triggers came, loses them all);
# frame numbers or trigger times not read from the picture; a model without
# triggers armed, or said to take them.
def test_steady_triggers_give_one_numbered_frame_each(head_factory):
    head_factory("HXA1")
    with varnel.Camera("V:", "HXA1") as camera:
        camera.window = (0, 0, 256, 64)
        camera.color_mode = 8
        assert camera.takes_triggers
        with camera.triggered(frames=6) as frames:
            assert camera.fire(rate=10, count=6)
            received = list(frames)
        numbers = [frame.number for frame in received]
        assert numbers == list(range(numbers[0], numbers[0] + 6))
        assert all(frame.trigger_time is not None for frame in received)
        assert all(frame.picture.shape == (64, 256) for frame in received)
        counts = camera.trigger_counts()
        assert (counts["fired"], counts["taken"], counts["read"]) == (6, 6, 6)

    head_factory("HXB2")
    with varnel.Camera("V:", "HXB2") as camera:
        assert not camera.takes_triggers
        with pytest.raises(varnel.VarnelError) as failure:
            camera.triggered()
        assert failure.value.code == 11


ARM_AND_WAIT = """
import sys, time, varnel
camera = varnel.Camera("V:", "HXA1")
frames = camera.triggered()
print("armed", flush=True)
time.sleep(600)
"""


# Fault caught: a head left in trigger mode when the program that armed it
# dies without stopping: it would go on taking triggers that nobody reads.
def test_head_leaves_trigger_mode_when_the_arming_program_dies(head_factory):
    head = head_factory("HXA1")
    child = subprocess.Popen([sys.executable, "-c", ARM_AND_WAIT], stdout=subprocess.PIPE)
    try:
        assert child.stdout.readline().strip() == b"armed"
        report = os.path.join(head.mount, "triggers")
        assert "armed 1" in open(report).read()
    finally:
        child.kill()
        child.wait()
    deadline = time.monotonic() + 30
    while "armed 1" in open(report).read() and time.monotonic() < deadline:
        time.sleep(0.05)
    assert "armed 0" in open(report).read()


def _version_is_the_packages(_):
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "..", "pyproject.toml"), encoding="utf-8") as f:
        versions = [value.strip().strip('"') for key, _, value in (line.partition("=") for line in f)
                    if key.strip() == "version"]
    assert versions == [varnel.__version__]


# Each case: the head's model (None: no camera attached), what is done with
# the camera (or without one), and what it must raise (None: nothing) with
# the words the message must hold.
VALUE_CASES = [
    # Register addresses and values are checked against the model, never cut.
    ("HXA1", lambda c: c.write_register(0x109, 777), ValueError, "0x109"),
    ("HXA1", lambda c: c.write_register(9, 70000), ValueError, "0..0xffff"),
    ("HXA1", lambda c: c.read_register(0x100), ValueError, "0..0xff"),
    ("HXA1", lambda c: c.read_register(-1), ValueError, "HXA1"),
    ("HXC3", lambda c: c.read_register(0x3166), None, None),
    ("HZG7", lambda c: c.write_register(0x3FF, 0x1234), None, None),
    ("HZG7", lambda c: c.read_register(0x400), ValueError, "0..0x3ff"),
    # Settings: only whole numbers, only the camera's own attributes, and
    # the range in the message of a refused value.
    ("HXA1", lambda c: setattr(c, "gamma", 120.7), TypeError, "whole number"),
    ("HXA1", lambda c: setattr(c, "exposure", "600"), TypeError, "whole number"),
    ("HXA1", lambda c: setattr(c, "mirror_h", 2), ValueError, "0 or 1"),
    ("HXA1", lambda c: setattr(c, "exposure_us", 100), AttributeError, "exposure_us"),
    ("HXA1", lambda c: setattr(c, "camera_type", 5), AttributeError, "camera_type"),
    ("HXA1", lambda c: setattr(c, "gamma", 300), varnel.VarnelError, "gamma takes 0..200"),
    ("HXA1", lambda c: setattr(c, "gain", 99), varnel.VarnelError, "gain takes 1..63 on the HXA1"),
    ("HXA1", lambda c: setattr(c, "color_mode", 20), varnel.VarnelError, "8, 10, 12"),
    ("HXA1", lambda c: setattr(c, "window", (0, 0, 5000, 10)), varnel.VarnelError, "2048 x 1536"),
    ("HYD4", lambda c: setattr(c, "window", (0, 0, 640, 480)), ValueError, "whole sensor"),
    # Counts and times of 0 or less are refused when asked for, not ignored.
    ("HXA1", lambda c: c.stream(frames=-1), ValueError, "frames"),
    ("HXA1", lambda c: c.stream(seconds=0), ValueError, "seconds"),
    ("HXA1", lambda c: c.triggered(frames=0), ValueError, "frames"),
    # A file the system will not let anyone write: its own reason.
    ("HXA1", lambda c: (c.snap(), c.save("/nonexistent/dir/x.png")), FileNotFoundError,
     "No such file or directory"),
    # The camera type is checked before any camera is looked for.
    (None, lambda c: varnel.Camera(camera_type="HXZ9"), ValueError, "unknown camera model 'HXZ9'"),
    (None, lambda c: varnel.Camera(camera_type=11), ValueError, "unknown camera type 11"),
    (None, lambda c: varnel.Camera(camera_type="HXA1"), varnel.VarnelError, "no camera drive"),
    (None, _version_is_the_packages, None, None),
]


# Fault caught: a register address cut to 8 bits or a value cut to 16 (the
# wrong register written silently), a model's wider addresses refused; a
# float taken as its whole part, a misspelt setting kept as an attribute of
# its own, a read-only fact overwritten; a refused value without its range;
# a negative frame count that yields nothing; a file error without the
# system's reason; an unknown camera type reported as a missing camera; a
# package without a version of its own.
@pytest.mark.parametrize("model, action, raised, words", VALUE_CASES)
def test_values_and_errors_as_a_user_meets_them(head_factory, model, action, raised, words):
    camera = None
    if model is not None:
        head_factory(model)
        camera = varnel.Camera("V:", model)
    try:
        if raised is None:
            action(camera)
        else:
            with pytest.raises(raised) as error:
                action(camera)
            assert words in str(error.value)
    finally:
        if camera is not None:
            camera.close()


# Fault caught: the fourth channel of 32- and 64-bit pictures handed out as
# the library's unused 0 (a transparent picture) while the files of the same
# frame hold opaque alpha.
@pytest.mark.parametrize("mode, opaque", [(32, 255), (64, 65535)])
def test_fourth_channel_is_the_files_opaque_alpha(camera, mode, opaque):
    camera.window = (0, 0, 256, 64)
    camera.color_mode = mode
    picture = camera.snap()
    assert (picture[:, :, 3] == opaque).all()

