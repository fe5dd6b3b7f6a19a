"""Opening and closing, controls, errors and interrupted waits."""
import os
import signal
import threading
import time

import pytest

import bayercam


# Bounded, but the driver ignores a value beyond the bounds (the time-out), makes it 0 (the clock)
# or selects a register that reads 0 (the register shadow) instead of clamping it.
NOT_CLAMPED = {"Timeout", "Clock", "RegisterShadow"}


def test_controls_report_ranges_and_clamp(open_scene):
    cam = open_scene()
    ranged = [c for c in cam.controls.values() if c.max is not None and "s" in c.access]
    assert {"Exposure", "GlobalGain", "Hue", "Brightness", *NOT_CLAMPED} <= {c.name for c in ranged}
    for control in ranged:
        assert control.min <= control.default <= control.max
        if control.name in NOT_CLAMPED:
            continue
        control.value = control.max + 1000
        assert control.value == control.max, control.name
        # Below the range, but not negative: some controls take their value unsigned.
        if control.min > 0:
            control.value = control.min - 1
            assert control.value == control.min, control.name
        cam.set(**{control.name: control.default})
        assert cam.get(control.name) == control.default


def test_controls_mapping_and_access_errors(open_scene):
    cam = open_scene()
    controls = cam.controls
    assert "Exposure" in controls and "NoSuchControl" not in controls
    assert list(controls) == list(controls.keys()) and len(controls) == len(controls.items())
    with pytest.raises(KeyError):
        controls["NoSuchControl"]
    with pytest.raises(ValueError):
        cam.get("NoSuchControl")
    read_only = next(c for c in controls.values() if c.access == "get")
    with pytest.raises(bayercam.AccessDenied):
        read_only.value = 1
    with pytest.raises(TypeError):
        cam.set(Hue="20")


def test_missing_camera_raises_not_found():
    with pytest.raises(bayercam.NotFound) as raised:
        bayercam.open("usb:ffff:fffe")
    assert str(raised.value) and raised.value.code < 0
    assert isinstance(raised.value, bayercam.Error)


def test_calls_on_a_closed_camera_raise(open_scene):
    cam = open_scene()
    cam.close()
    cam.close()
    assert cam.closed
    for call in (cam.capture, lambda: cam.get("Hue"), lambda: next(cam.stream())):
        with pytest.raises(bayercam.Error):
            call()


def test_a_stream_left_by_an_exception_releases_the_camera(scene, tmp_path):
    selector = f"sim:scene=file:{scene[1]},fps=0"
    with pytest.raises(RuntimeError):
        with bayercam.open(selector, settings_dir=tmp_path) as cam:
            for _ in cam.stream(raw=True):
                raise RuntimeError("stop here")
    cam = bayercam.open(selector, settings_dir=tmp_path)
    with pytest.raises(RuntimeError):
        for _ in cam.stream():
            raise RuntimeError("stop here")
    # Streaming would lock the region: the interrupted stream has stopped.
    cam.region = (0, 0, 640, 480)
    assert cam.capture().shape == (480, 640, 4)
    cam.close()


def test_a_slow_camera_times_out(scene, tmp_path):
    with bayercam.open(f"sim:scene=file:{scene[1]},fps=0.2", settings_dir=tmp_path) as cam:
        next(cam.stream(timeout_ms=10000))  # the next frame is 5 s away
        with pytest.raises(bayercam.Timeout) as raised:
            cam.capture(timeout_ms=200)
        assert isinstance(raised.value, TimeoutError)


def test_ctrl_c_interrupts_a_wait(scene, tmp_path):
    with bayercam.open(f"sim:scene=file:{scene[1]},fps=0.1", settings_dir=tmp_path) as cam:
        next(cam.stream(timeout_ms=20000))  # the next frame is 10 s away
        ticks = []
        # Other Python threads run while the camera waits (the GIL is released).
        ticker = threading.Thread(target=lambda: [ticks.append(time.sleep(0.01)) for _ in range(20)])
        killer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
        start = time.monotonic()
        ticker.start()
        killer.start()
        with pytest.raises(KeyboardInterrupt):
            cam.capture(timeout_ms=20000)
        ticker.join()
        assert time.monotonic() - start < 5
        assert len(ticks) == 20
