#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "camera/frame_timeout.h"
#include "platform/kernel/pool.h"
#include "simcam/chart_scene.h"
#include "simcam/image_stream.h"
#include "support/sim_device.h"
#include "usb/frame_read.h"
#include "usb/frame_timeout.h"
#include "usb/packet_transfer.h"

namespace bayercam::sim {
namespace {

using bayercam::testing::SimDevice;

std::string WritePgm(const std::string& name, const std::string& header,
                     const std::vector<uint8_t>& pixels) {
    std::string path = ::testing::TempDir() + name;
    std::ofstream file(path, std::ios::binary);
    file << header;
    file.write(reinterpret_cast<const char*>(pixels.data()),
               static_cast<std::streamsize>(pixels.size()));
    return path;
}

std::vector<uint8_t> Render(Scene& scene, const SensorSettings& sensor, uint64_t frame) {
    std::vector<uint8_t> out(kFrameBytes);
    scene.Render(sensor, frame, out.data());
    return out;
}

double Mean(const std::vector<uint8_t>& frame) {
    return std::accumulate(frame.begin(), frame.end(), 0.0) / static_cast<double>(frame.size());
}

TEST(SensorModel, SettingsFollowTheRegisters) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, uint32_t>> registers;
        SensorSettings expected;
    };
    const Case cases[] = {
        {"nothing written", {}, {0, 0}},
        {"start-up exposure", {{158, 36}, {159, 1}}, {100, 0}},
        {"long mode", {{154, 1}, {155, 7}, {158, 36}, {159, 1}}, {1074, 0}},
        {"gain 1023", {{6, 63}, {7, 15}}, {0, 1023}},
    };
    for (const Case& c : cases) {
        SimCamera camera;
        for (auto [address, value] : c.registers) camera.SetSensorRegister(address, value);
        SensorSettings settings = ReadSensorSettings(camera);
        EXPECT_EQ(settings.exposure, c.expected.exposure) << c.name;
        EXPECT_EQ(settings.gain, c.expected.gain) << c.name;
    }
}

TEST(ChartScene, ExposureAndGainChangeBrightness) {
    struct Case {
        const char* name;
        SensorSettings sensor;
        int direction;  // compared with the start-up settings: +1 brighter, -1 darker
    };
    const SensorSettings startUp{100, 0};
    const Case cases[] = {
        {"longer exposure", {400, 0}, +1},
        {"shorter exposure", {20, 0}, -1},
        {"below the sensor's minimum", {0, 0}, -1},
        {"gain", {100, 64}, +1},
        {"long mode", {1074, 0}, +1},
    };
    ChartScene chart(1);
    const double reference = Mean(Render(chart, startUp, 0));
    for (const Case& c : cases) {
        double mean = Mean(Render(chart, c.sensor, 0));
        EXPECT_EQ(mean > reference ? +1 : mean < reference ? -1 : 0, c.direction) << c.name;
        // Never all black, whatever the settings.
        EXPECT_GT(mean, 0.0) << c.name;
    }
}

TEST(ChartScene, ColourSitesDifferOnNeutralGrey) {
    ChartScene chart(1);
    std::vector<uint8_t> frame = Render(chart, {100, 0}, 0);
    double sum[4] = {};
    for (uint32_t y = kRampTop; y < kRampBottom; ++y) {
        for (uint32_t x = 0; x < kFrameWidth; ++x)
            sum[(y & 1) * 2 + (x & 1)] += frame[y * kFrameWidth + x];
    }
    // Red and blue sites see less of the same grey than green ones.
    EXPECT_LT(sum[0], sum[3]);
    EXPECT_LT(sum[3], sum[1]);
    EXPECT_NEAR(sum[1], sum[2], sum[1] * 0.01);
}

TEST(ChartScene, MarkerMovesAndSeedFixesTheChart) {
    ChartScene chart(1), same(1), other(2);
    std::vector<uint8_t> first = Render(chart, {100, 0}, 0);
    std::vector<uint8_t> second = Render(chart, {100, 0}, 1);
    EXPECT_EQ(first, Render(same, {100, 0}, 0));
    EXPECT_NE(first, Render(other, {100, 0}, 0));
    size_t changed = 0;
    for (size_t i = 0; i < kFrameBytes; ++i) changed += first[i] != second[i];
    // Only the small marker moves: where it left and where it arrived.
    EXPECT_GT(changed, 0u);
    EXPECT_LE(changed, 2u * 48 * 48);
}

TEST(MakeScene, Options) {
    const std::string small = WritePgm("small.pgm", "P5 4 4 255\n", std::vector<uint8_t>(16));
    const std::string full =
        WritePgm("full.pgm", "P5 1360 1024 255\n", std::vector<uint8_t>(kFrameBytes));
    struct Case {
        std::string option;
        bool ok;
        const char* errorMentions;
    };
    const Case cases[] = {
        {"chart", true, ""},
        {"file:" + full, true, ""},
        {"file:" + small, false, "expected 1360x1024"},
        {"file:" + ::testing::TempDir() + "missing.pgm", false, "cannot open"},
        {"Chart", false, "unknown scene"},
        {"", false, "unknown scene"},
    };
    for (const Case& c : cases) {
        std::string error;
        std::unique_ptr<Scene> scene = MakeScene(c.option, 1, &error);
        EXPECT_EQ(scene != nullptr, c.ok) << c.option;
        EXPECT_NE(error.find(c.errorMentions), std::string::npos) << c.option << ": " << error;
    }
}

class ImageStreamTest : public testing::LeakCheckedTest<> {
  protected:
    void ReleaseAll() override {
        if (sim_) SetFrameTimeout(sim_->device(), kDefaultFrameTimeoutMs);
        stream_.reset();
        sim_.reset();
    }
    CameraDevice* Start(std::unique_ptr<Scene> scene, double framesPerSecond = 0.0) {
        sim_ = std::make_unique<SimDevice>();
        sim_->AddAndStart();
        stream_ = std::make_unique<SimImageStream>(sim_->camera, std::move(scene), framesPerSecond);
        sim_->device()->rawFrameBytes.store(kFrameBytes);
        return sim_->device();
    }
    bool ReadOne(CameraDevice* device, std::vector<uint8_t>* frame) {
        frame->assign(kFrameBytes, 0);
        bool ok = false;
        return device->ops->ReadFrame(device, frame->data(), &ok);
    }

    std::unique_ptr<SimDevice> sim_;
    std::unique_ptr<SimImageStream> stream_;
};

TEST_F(ImageStreamTest, FileSceneArrivesByteForByte) {
    std::vector<uint8_t> pixels(kFrameBytes);
    for (uint32_t i = 0; i < kFrameBytes; ++i) pixels[i] = static_cast<uint8_t>(i * 7 + i / 4099);
    std::string error;
    std::unique_ptr<Scene> scene =
        MakeScene("file:" + WritePgm("scene.pgm", "P5\n1360 1024\n255\n", pixels), 1, &error);
    ASSERT_TRUE(scene) << error;
    CameraDevice* device = Start(std::move(scene));
    std::vector<uint8_t> frame;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(ReadOne(device, &frame)) << i;
        EXPECT_EQ(frame, pixels) << i;
    }
}

TEST_F(ImageStreamTest, ChartFramesChangeAndFollowTheRegisters) {
    CameraDevice* device = Start(std::make_unique<ChartScene>(1));
    sim_->camera.SetSensorRegister(158, 36);
    sim_->camera.SetSensorRegister(159, 1);
    // The start-up sequence leaves a gain of its own; start from the lowest.
    sim_->camera.SetSensorRegister(6, 0);
    sim_->camera.SetSensorRegister(7, 0);
    std::vector<uint8_t> first, second, brighter;
    ASSERT_TRUE(ReadOne(device, &first));
    ASSERT_TRUE(ReadOne(device, &second));
    EXPECT_NE(first, second);
    sim_->camera.SetSensorRegister(6, 63);  // gain 63
    ASSERT_TRUE(ReadOne(device, &brighter));
    EXPECT_GT(Mean(brighter), Mean(second) * 1.5);
}

TEST_F(ImageStreamTest, OnlyAnEndMarkAfterARequestStartsAFrame) {
    CameraDevice* device = Start(std::make_unique<ChartScene>(1));
    // Each mark returns after the camera has taken it.
    SendFrameMark(device, true);
    SendFrameMark(device, true);
    EXPECT_EQ(stream_->FramesStarted(), 0u);
    SendFrameMark(device, false);
    SendFrameMark(device, true);
    SendFrameMark(device, true);
    EXPECT_EQ(stream_->FramesStarted(), 1u);
    // The frame nobody read is thrown away by the next request.
    std::vector<uint8_t> frame;
    EXPECT_TRUE(ReadOne(device, &frame));
    EXPECT_EQ(stream_->FramesStarted(), 2u);
}

TEST_F(ImageStreamTest, FrameIntervalHoldsBackTheNextFrame) {
    // One frame every 1000 s: the first goes out at once, the second not within the time-out.
    CameraDevice* device = Start(std::make_unique<ChartScene>(1), 0.001);
    std::vector<uint8_t> frame;
    ASSERT_TRUE(ReadOne(device, &frame));
    SetFrameTimeout(device, 501);
    EXPECT_EQ(ReadFrameChunked(device, kFrameBytes, frame.data()), STATUS_TIMEOUT);
}

}  // namespace
}  // namespace bayercam::sim
