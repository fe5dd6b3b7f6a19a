// The C interface: each call forwards to the camera behind the handle.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "api/library/application_camera.h"
#include "bayercam/bayercam.h"
#include "bayercam/bayercam_raw.h"
#include "platform/libusb/usb_device_list.h"

struct bayercam_camera {
    std::unique_ptr<bayercam::library::ApplicationCamera> camera;
};

namespace {

// The last failed open, list or close of this thread.
thread_local std::string openError;

int OpenFailed(int code, std::string message) {
    openError = std::move(message);
    return code;
}

}  // namespace

extern "C" {

int bayercam_open(const char* selector, const char* settings_dir, bayercam_camera** cam) {
    if (!cam) return OpenFailed(-EINVAL, "no place for the camera");
    *cam = nullptr;
    auto* handle = new (std::nothrow) bayercam_camera;
    if (!handle) return OpenFailed(-ENOMEM, "out of memory");
    std::string error;
    int code =
        bayercam::library::ApplicationCamera::Open(selector, settings_dir, &handle->camera, &error);
    if (code != 0) {
        delete handle;
        return OpenFailed(code, error);
    }
    *cam = handle;
    return 0;
}

void bayercam_close(bayercam_camera* cam) {
    if (!cam) return;
    std::string error;
    if (!cam->camera->Close(&error)) openError = std::move(error);
    delete cam;
}

int bayercam_list(char*** selectors, size_t* count) {
    if (!selectors || !count) return OpenFailed(-EINVAL, "no place for the list");
    *selectors = nullptr;
    *count = 0;
    bayercam::UsbCameraList cameras = bayercam::ListUsbCameras();
    if (!cameras.error.empty()) return OpenFailed(-EIO, cameras.error);
    if (cameras.devices.empty()) return 0;
    auto** list = static_cast<char**>(std::calloc(cameras.devices.size(), sizeof(char*)));
    if (!list) return OpenFailed(-ENOMEM, "out of memory");
    for (size_t i = 0; i < cameras.devices.size(); ++i) {
        const bayercam::UsbDeviceInfo& device = cameras.devices[i];
        // The serial number follows the camera; without one, its socket names it.
        char ids[16];
        std::snprintf(ids, sizeof ids, "%04x:%04x", device.vendorId, device.productId);
        std::string selector = device.serial.empty()
                                   ? "usb-path:" + device.busPath
                                   : "usb:" + std::string(ids) + ":" + device.serial;
        list[i] = strdup(selector.c_str());
        if (!list[i]) {
            bayercam_free_list(list, i);
            return OpenFailed(-ENOMEM, "out of memory");
        }
    }
    *selectors = list;
    *count = cameras.devices.size();
    return 0;
}

void bayercam_free_list(char** selectors, size_t count) {
    if (!selectors) return;
    for (size_t i = 0; i < count; ++i) std::free(selectors[i]);
    std::free(selectors);
}

int bayercam_get_control(bayercam_camera* cam, const char* name, int32_t* value) {
    return cam ? cam->camera->GetControl(name, value) : -EINVAL;
}

int bayercam_set_control(bayercam_camera* cam, const char* name, int32_t value) {
    return cam ? cam->camera->SetControl(name, value) : -EINVAL;
}

int bayercam_control_range(bayercam_camera* cam, const char* name, int32_t* min, int32_t* max,
                           int32_t* def) {
    return cam ? cam->camera->ControlRange(name, min, max, def) : -EINVAL;
}

int bayercam_describe_control(bayercam_camera* cam, uint32_t index, bayercam_control_info* info) {
    return cam ? cam->camera->DescribeControl(index, info) : -EINVAL;
}

int bayercam_set_region(bayercam_camera* cam, int32_t x, int32_t y, int32_t w, int32_t h) {
    return cam ? cam->camera->SetRegion(x, y, w, h) : -EINVAL;
}

int bayercam_start(bayercam_camera* cam) {
    return cam ? cam->camera->Start() : -EINVAL;
}

int bayercam_next_frame(bayercam_camera* cam, uint32_t timeout_ms, bayercam_frame** frame) {
    return cam ? cam->camera->NextFrame(timeout_ms, frame) : -EINVAL;
}

int bayercam_release_frame(bayercam_camera* cam, bayercam_frame* frame) {
    return cam ? cam->camera->ReleaseFrame(frame) : -EINVAL;
}

int bayercam_stop(bayercam_camera* cam) {
    return cam ? cam->camera->Stop() : -EINVAL;
}

int bayercam_set_raw_frames(bayercam_camera* cam, int on) {
    return cam ? cam->camera->SetRawFrames(on != 0) : -EINVAL;
}

int bayercam_frame_raw(bayercam_camera* cam, const bayercam_frame* frame, const uint8_t** data,
                       uint32_t* width, uint32_t* height, int32_t* stride) {
    return cam ? cam->camera->FrameRaw(frame, data, width, height, stride) : -EINVAL;
}

int bayercam_get_region(bayercam_camera* cam, int32_t* x, int32_t* y, int32_t* w, int32_t* h) {
    return cam ? cam->camera->GetRegion(x, y, w, h) : -EINVAL;
}

int bayercam_sim_unplug(bayercam_camera* cam) {
    return cam ? cam->camera->SimulatedUnplug() : -EINVAL;
}

int bayercam_set_auto_exposure(bayercam_camera* cam, int on) {
    return cam ? cam->camera->SetAutoExposure(on != 0) : -EINVAL;
}

int bayercam_set_auto_white_balance(bayercam_camera* cam, int on) {
    return cam ? cam->camera->SetAutoWhiteBalance(on != 0) : -EINVAL;
}

const char* bayercam_last_error(bayercam_camera* cam) {
    return cam ? cam->camera->LastError() : openError.c_str();
}

}  // extern "C"
