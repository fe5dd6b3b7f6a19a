import os
import subprocess

import numpy as np
import pytest

import bayercam

HEIGHT, WIDTH = 1024, 1360


@pytest.fixture(scope="session")
def scene(tmp_path_factory):
    """A raw frame with detail in every channel, and the PGM file holding it."""
    rng = np.random.default_rng(17)
    raw = rng.integers(0, 256, size=(HEIGHT, WIDTH), dtype=np.uint8)
    path = tmp_path_factory.mktemp("scene") / "scene.pgm"
    path.write_bytes(b"P5\n%d %d\n255\n" % (WIDTH, HEIGHT) + raw.tobytes())
    return raw, path


@pytest.fixture
def open_scene(scene, tmp_path):
    """Opens the simulated camera on the scene, with settings of its own (the defaults)."""
    cameras = []

    def opener(**options):
        cam = bayercam.open(f"sim:scene=file:{scene[1]},fps=0", settings_dir=tmp_path, **options)
        cameras.append(cam)
        return cam

    yield opener
    for cam in cameras:
        cam.close()


def tool_convert(pgm, output_dir, *settings):
    """The tool's conversion of a PGM from the default settings, as a top-down BGRA array."""
    out = output_dir / "tool.bgra"
    args = [os.environ["BAYERCAM_TOOL"], "--settings-dir", str(output_dir / "settings"),
            "convert", str(pgm), str(out)]
    for setting in settings:
        args += ["--set", setting]
    subprocess.run(args, check=True)
    bottom_up = np.fromfile(out, dtype=np.uint8).reshape(HEIGHT, -1, 4)
    return bottom_up[::-1]
