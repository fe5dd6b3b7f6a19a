"""Live frames against the scene and against the offline conversion."""
import numpy as np
import pytest

import bayercam
from conftest import HEIGHT, WIDTH, tool_convert

SETTINGS = [
    {},
    {"Hue": 20, "Saturation": 15},
    {"FlipH": 1, "FlipV": 1},
    {"ColorEnable": 0},
    {"WhiteBalance": 1, "Brightness": 300},
]


def test_capture_equals_the_tool_conversion_top_down(scene, open_scene, tmp_path):
    cam = open_scene()
    cam.set(Hue=20)
    image = cam.capture()
    assert image.dtype == np.uint8 and image.shape == (HEIGHT, WIDTH, 4)
    assert image.flags.c_contiguous
    expected = tool_convert(scene[1], tmp_path, "Hue=20")
    np.testing.assert_array_equal(image, expected)


@pytest.mark.parametrize("settings", SETTINGS, ids=str)
def test_raw_is_the_scene_and_converts_to_the_live_frame(scene, open_scene, settings):
    cam = open_scene()
    cam.set(**settings)
    frames = list(cam.stream(count=2, raw=True))
    for frame in frames:
        np.testing.assert_array_equal(frame.raw, scene[0])
    last = frames[-1]
    np.testing.assert_array_equal(bayercam.convert(last.raw, **settings), last.array)
    assert frames[1].sequence > frames[0].sequence


def test_region_is_delivered_and_converted_alike(scene, open_scene):
    cam = open_scene()
    cam.region = (100, 50, 333, 200)
    x, y, w, h = cam.region
    frame = next(cam.stream(count=1, raw=True))
    assert frame.array.shape == (h, w // 8 * 8, 4)
    np.testing.assert_array_equal(bayercam.convert(frame.raw, region=(x, y, w, h)), frame.array)


def test_convert_matches_the_tool_with_sensor_controls_ignored(scene, tmp_path):
    expected = tool_convert(scene[1], tmp_path, "Contrast=15")
    converted = bayercam.convert(scene[0], Contrast=15, Exposure=500, GlobalGain=40)
    np.testing.assert_array_equal(converted, expected)
    # A view with a row stride of its own converts like the packed frame.
    padded = np.zeros((HEIGHT, WIDTH + 64), dtype=np.uint8)
    padded[:, :WIDTH] = scene[0]
    np.testing.assert_array_equal(bayercam.convert(padded[:, :WIDTH], Contrast=15), expected)


@pytest.mark.parametrize(
    "raw, settings, error",
    [
        (np.zeros((HEIGHT, WIDTH), np.uint16), {}, TypeError),
        (np.zeros((HEIGHT, WIDTH - 1), np.uint8), {}, ValueError),
        ([[0] * WIDTH] * HEIGHT, {}, TypeError),
        (np.zeros((HEIGHT, WIDTH), np.uint8), {"NoSuchControl": 1}, ValueError),
        (np.zeros((HEIGHT, WIDTH), np.uint8), {"Hue": 2.5}, TypeError),
        (np.zeros((HEIGHT, WIDTH), np.uint8), {"Hue": 2**40}, ValueError),
        (np.zeros((HEIGHT, WIDTH), np.uint8), {"region": (0, 0, 4, 4)}, ValueError),
    ],
)
def test_convert_refuses_bad_arguments(raw, settings, error):
    with pytest.raises(error):
        bayercam.convert(raw, **settings)
