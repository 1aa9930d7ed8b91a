"""The varnel package against a virtual camera head (varnel-camsim)."""

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
