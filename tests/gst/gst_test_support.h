// What the element's tests share: GStreamer with bayercamsrc registered in this process, a folder
// of their own, a recorded raw frame for the simulated camera, and the library's own frames.
#pragma once

#include <bayercam/bayercam.h>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "gst/bayercam_src.h"
#include "gst/device_provider.h"

namespace bayercam::gst::test {

inline void InitGst() {
    static std::once_flag once;
    std::call_once(once, [] {
        gst_init(nullptr, nullptr);
        ASSERT_TRUE(RegisterSource(nullptr));
        ASSERT_TRUE(RegisterDeviceProvider(nullptr));
    });
}

class ScratchDir {
  public:
    ScratchDir() {
        char pattern[] = "/tmp/bayercam-gst-XXXXXX";
        path_ = mkdtemp(pattern);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

// A 1360 x 1024 binary PGM in `dir` whose rows and columns all differ, so a mirrored or shifted
// image shows; returns the simulated camera's selector for it.
inline std::string PatternScene(const ScratchDir& dir) {
    std::string path = dir.Path() + "/scene.pgm";
    std::ofstream out(path, std::ios::binary);
    out << "P5\n1360 1024\n255\n";
    uint32_t state = 12345;
    for (int i = 0; i < 1360 * 1024; ++i) {
        state = state * 1664525u + 1013904223u;
        out.put(static_cast<char>(state >> 24));
    }
    return "sim:scene=file:" + path + ",fps=0";
}

// The library's first `count` frames of `selector`, tightly packed rows, top row first.
inline std::vector<std::string> LibraryFrames(const std::string& selector, int count,
                                              const int32_t* region = nullptr) {
    ScratchDir settings;
    std::vector<std::string> frames;
    bayercam_camera* camera = nullptr;
    EXPECT_EQ(bayercam_open(selector.c_str(), settings.Path().c_str(), &camera), 0);
    if (!camera) return frames;
    if (region) {
        EXPECT_EQ(bayercam_set_region(camera, region[0], region[1], region[2], region[3]), 0);
    }
    EXPECT_EQ(bayercam_start(camera), 0);
    for (int i = 0; i < count; ++i) {
        bayercam_frame* frame = nullptr;
        if (bayercam_next_frame(camera, 5000, &frame) != 0) break;
        std::string pixels;
        for (uint32_t y = 0; y < frame->height; ++y)
            pixels.append(reinterpret_cast<const char*>(frame->data) + y * frame->stride,
                          4 * frame->width);
        frames.push_back(pixels);
        bayercam_release_frame(camera, frame);
    }
    bayercam_close(camera);
    return frames;
}

}  // namespace bayercam::gst::test
