#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bayercam/client.h"
#include "camera/frame_timeout.h"
#include "core/camera_device.h"
#include "imaging/image_processor.h"
#include "platform/ks/ks_filter.h"
#include "props/control_property_set.h"
#include "simcam/command_dispatcher.h"
#include "stream/capture_descriptors.h"
#include "support/settings_camera.h"
#include "usb/frame_timeout.h"

namespace bayercam {
namespace {

using test_support::TestSettingsRoot;
using testing::SettingsCamera;

class ControlPropertiesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        camera_ = std::make_unique<SettingsCamera>(root_);
        camera_->StartWith("");
        ASSERT_TRUE(
            filter_
                .Open(*camera_->sim().ksDevice, camera_->sim().device()->captureDescriptors->filter)
                .ok());
        camera_->sim().bus.Recorder().Clear();
    }
    void TearDown() override {
        FreeProcessor();
        filter_.Close();
        camera_.reset();
        CameraDevice scratch{};
        SetFrameTimeout(&scratch, kDefaultFrameTimeoutMs);
    }

    NTSTATUS Get(uint32_t id, int32_t* value) {
        ControlRequest request{};
        NTSTATUS status = filter_.GetProperty(ControlPropertySetId, id, &request).code;
        *value = request.value;
        return status;
    }
    int32_t Get(uint32_t id) {
        int32_t value = 0;
        EXPECT_EQ(Get(id, &value), STATUS_SUCCESS) << "get of " << id;
        return value;
    }
    NTSTATUS Set(uint32_t id, int32_t value, int32_t second = 0) {
        ControlRequest request{};
        request.value = value;
        request.secondValue = second;
        return filter_.SetProperty(ControlPropertySetId, id, &request).code;
    }
    template <typename Record>
    NTSTATUS SetRecord(uint32_t id, Record* record) {
        return filter_.SetProperty(ControlPropertySetId, id, record).code;
    }
    template <typename Record>
    NTSTATUS GetRecord(uint32_t id, Record* record) {
        return filter_.GetProperty(ControlPropertySetId, id, record).code;
    }

    // A stream's processor, as the pin's acquire creates it.
    ImageProcessor* OpenProcessor() {
        std::lock_guard guard(device()->settingsLock);
        ImageProcessor* processor = CreateImageProcessor(device());
        device()->imageProcessor.store(processor);
        return processor;
    }
    void FreeProcessor() {
        if (!camera_) return;
        std::lock_guard guard(device()->settingsLock);
        FreeImageProcessor(device()->imageProcessor.exchange(nullptr));
    }

    CameraDevice* device() { return camera_->device(); }
    std::vector<BusRecord> Commands() {
        std::vector<BusRecord> commands;
        for (BusRecord& record : camera_->sim().Records(BusRequestKind::BulkOrInterrupt))
            if (record.endpoint == 0x01) commands.push_back(std::move(record));
        return commands;
    }

    TestSettingsRoot root_;
    std::unique_ptr<SettingsCamera> camera_;
    client::Filter filter_;
};

// Which directions each id has: b both, g get only, s set only. Ten ids a group.
constexpr const char kDirections[] =
    "bbbgggbggg"  // 0..9
    "bbbbbbbggg"  // 10..19
    "bgggbgggbg"  // 20..29
    "ggbggggggg"  // 30..39
    "ggggsggsbb"  // 40..49
    "gggggbbbbb"  // 50..59
    "bggbbbbsg";  // 60..68

TEST_F(ControlPropertiesTest, EachIdHasExactlyItsDirections) {
    static_assert(sizeof kDirections - 1 == kControlPropertyCount);
    for (uint32_t id = 0; id < kControlPropertyCount; ++id) {
        const char want = kDirections[id];
        const ControlProperty& property = kControlProperties[id];
        EXPECT_EQ(property.id, id);
        EXPECT_EQ(property.get != nullptr, want != 's') << property.name;
        EXPECT_EQ(property.set != nullptr, want != 'g') << property.name;
        // The class driver refuses a missing direction before any handler runs.
        RawCommandRequest request{};
        if (want == 's') {
            EXPECT_EQ(GetRecord(id, &request), STATUS_INVALID_DEVICE_REQUEST) << property.name;
        }
        if (want == 'g') {
            EXPECT_EQ(SetRecord(id, &request), STATUS_INVALID_DEVICE_REQUEST) << property.name;
        }
    }
    EXPECT_TRUE(Commands().empty()) << "a refused request reached the camera";
}

TEST_F(ControlPropertiesTest, FixedAnswersAndTheirSizes) {
    // A few against the constants they stand for; the rest are read by the props command test.
    const std::pair<uint32_t, int32_t> answers[] = {
        {4, 1074}, {9, 512}, {18, 512}, {22, 510}, {34, 359}, {38, 1360}, {51, 1}, {68, 0},
    };
    for (auto [id, value] : answers) EXPECT_EQ(Get(id), value) << kControlProperties[id].name;
    EXPECT_TRUE(Commands().empty());

    // Buffers below an item's minimum never reach its handler.
    ControlRequest small{};
    EXPECT_EQ(filter_.GetProperty(ControlPropertySetId, 4, &small, 32, &small, 31).code,
              STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(filter_.SetProperty(ControlPropertySetId, 20, &small, 31, &small, 32).code,
              STATUS_BUFFER_TOO_SMALL);
    RoiRequest roi{};
    EXPECT_EQ(filter_.SetProperty(ControlPropertySetId, 44, &roi, 48, &roi, 47).code,
              STATUS_BUFFER_TOO_SMALL);
    RawCommandRequest raw{};
    EXPECT_EQ(filter_.SetProperty(ControlPropertySetId, 59, &raw, 95, &raw, 96).code,
              STATUS_BUFFER_TOO_SMALL);
    EXPECT_TRUE(Commands().empty());
}

TEST_F(ControlPropertiesTest, SetsClampOrIgnoreAsEachValueRequires) {
    struct Case {
        uint32_t id;
        int32_t set;
        int32_t got;
    };
    // In order: each starts from what the rows before left.
    const Case cases[] = {
        {1, 500, 3000},  {1, 501, 501},   {1, -1, -1},   {1, 3000, 3000}, {2, 7, 8},
        {2, 1075, 1074}, {2, -1, 1074},   {2, 100, 100}, {6, 1024, 1023}, {6, -1, 1023},
        {6, 100, 100},   {10, -7, -7},    {11, 2, 2},    {12, 0, 0},      {12, 3, 3},
        {14, 0, 1},      {14, 1000, 512}, {15, -9, 1},   {16, 300, 300},  {20, 511, 510},
        {20, -1, 0},     {24, 21, 20},    {28, -1, 0},   {32, 360, 359},  {32, -5, 0},
        {32, 180, 180},  {48, 0, 0},      {48, 7, 7},    {55, 9, 0},      {56, 9, 0},
        {0, 5, 0},       {63, 5, 0},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Set(c.id, c.set), STATUS_SUCCESS) << kControlProperties[c.id].name;
        EXPECT_EQ(Get(c.id), c.got) << kControlProperties[c.id].name << " set to " << c.set;
    }
    EXPECT_EQ(GetFrameTimeoutMs(), 3000u);
    EXPECT_EQ(camera_->sim().camera.SensorRegister(6), 100u & 63);
}

TEST_F(ControlPropertiesTest, AnOpenStreamSeesSetsAndGetsReportWhatItMeasured) {
    ImageProcessor* processor = OpenProcessor();
    ASSERT_NE(processor, nullptr);

    int32_t matrixBefore[16];
    std::copy(std::begin(processor->colorMatrix), std::end(processor->colorMatrix), matrixBefore);
    ASSERT_EQ(Set(20, 400), STATUS_SUCCESS);
    EXPECT_EQ(processor->brightness, 400);
    EXPECT_FALSE(std::equal(std::begin(matrixBefore), std::end(matrixBefore),
                            std::begin(processor->colorMatrix)))
        << "the brightness recompute did not run";
    ASSERT_EQ(Set(16, 0), STATUS_SUCCESS);
    EXPECT_EQ(processor->blueGain, 1);
    ASSERT_EQ(Set(12, 0), STATUS_SUCCESS);
    EXPECT_EQ(processor->colorEnable, 0);

    // Automatic white balance on: the processor measures gains of its own.
    ASSERT_EQ(Set(13, 1), STATUS_SUCCESS);
    EXPECT_EQ(processor->whiteBalance, 1);
    processor->redGain = 200;
    processor->greenGain = 150;
    EXPECT_EQ(device()->redGain, 128);
    EXPECT_EQ(Get(14), 200);
    EXPECT_EQ(device()->redGain, 200);
    // Switching it off keeps the measured gains as the manual ones.
    ASSERT_EQ(Set(13, 0), STATUS_SUCCESS);
    EXPECT_EQ(device()->greenGain, 150);

    FreeProcessor();
    EXPECT_EQ(Get(14), 200);
    ASSERT_EQ(Set(14, 90), STATUS_SUCCESS);
    EXPECT_EQ(Get(14), 90);
}

TEST_F(ControlPropertiesTest, RegisterShadowAndMemoryByteShareTheSelectedAddress) {
    // The start-up sequence writes 8 to sensor register 1.
    const std::pair<int32_t, int32_t> reads[] = {{1, 8}, {2000, 0}, {1024, 0}, {-1, 0}, {0, 0}};
    for (auto [address, value] : reads) {
        ASSERT_EQ(Set(58, address), STATUS_SUCCESS);
        EXPECT_EQ(Get(58), value) << "address " << address;
    }
    RawCommandRequest select{};
    select.address = 1;
    ASSERT_EQ(SetRecord(60, &select), STATUS_SUCCESS);
    EXPECT_EQ(Get(58), 8);

    select.address = 0x1234;
    ASSERT_EQ(SetRecord(60, &select), STATUS_SUCCESS);
    RawCommandRequest read{};
    read.address = 77;
    ASSERT_EQ(GetRecord(60, &read), STATUS_SUCCESS);
    EXPECT_EQ(read.payload[0], sim::SimMemoryByte(0x1234));
    EXPECT_EQ(read.address, 77) << "the answer goes to the payload only";

    // A read the camera does not answer leaves the byte as it was.
    camera_->sim().camera.AddFault({sim::kResponseEndpoint, 1, sim::SimFaultAction::Error});
    read.payload[0] = 0xEE;
    ASSERT_EQ(GetRecord(60, &read), STATUS_SUCCESS);
    EXPECT_EQ(read.payload[0], 0xEE);
}

TEST_F(ControlPropertiesTest, RawCommandsAndSensorWritesGoOnTheWireAsGiven) {
    RawCommandRequest raw{};
    raw.count = 2;
    raw.payload[0] = 0x11;
    raw.payload[1] = 0x22;
    raw.payload[2] = 0x33;  // beyond the count: not sent
    ASSERT_EQ(SetRecord(59, &raw), STATUS_SUCCESS);
    EXPECT_EQ(GetRecord(59, &raw), STATUS_UNSUCCESSFUL);
    std::vector<BusRecord> commands = Commands();
    ASSERT_EQ(commands.size(), 1u);
    std::vector<uint8_t> expected(64, 0);
    expected[0] = 0x40;
    expected[1] = 0x11;
    expected[2] = 0x22;
    EXPECT_EQ(commands[0].data, expected);

    ASSERT_EQ(Set(57, 6, 37), STATUS_SUCCESS);
    EXPECT_EQ(camera_->sim().camera.SensorRegister(6), 37u);
    int32_t unused = 0;
    EXPECT_EQ(Get(57, &unused), STATUS_UNSUCCESSFUL);
    // The only property that reports a refused write.
    camera_->sim().camera.AddFault({sim::kCommandEndpoint, 1, sim::SimFaultAction::Error});
    EXPECT_EQ(Set(57, 6, 38), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(camera_->sim().camera.SensorRegister(6), 37u);
    camera_->sim().camera.AddFault({sim::kCommandEndpoint, 1, sim::SimFaultAction::Error});
    EXPECT_EQ(Set(6, 5), STATUS_SUCCESS) << "other properties succeed whatever the camera did";
}

TEST_F(ControlPropertiesTest, ClockAndRegionOfInterest) {
    ASSERT_EQ(Set(49, 2), STATUS_SUCCESS);
    EXPECT_EQ(device()->clock, 3);
    EXPECT_EQ(Get(49), 2);

    RoiRequest roi{};
    roi.x = 3, roi.y = 5, roi.width = 100, roi.height = 50;
    // While a pin holds the geometry the set succeeds and changes nothing.
    SetGeometryLock(device(), 1);
    EXPECT_EQ(SetRecord(44, &roi), STATUS_SUCCESS);
    EXPECT_EQ(device()->roiW, 1360);
    EXPECT_EQ(Get(45), 1);
    SetGeometryLock(device(), 0);
    EXPECT_EQ(SetRecord(44, &roi), STATUS_SUCCESS);
    EXPECT_EQ(device()->roiX, 4);
    EXPECT_EQ(device()->roiY, 6);
    EXPECT_EQ(device()->outputWidth, 96);
}

TEST_F(ControlPropertiesTest, ReinitializeRunsTheStartUpAndReloadsTheSavedSettings) {
    test_support::WriteWholeFile(camera_->ValuesFile(), "Brightness = dword:300\n");
    ASSERT_EQ(Set(20, 10), STATUS_SUCCESS);
    ASSERT_EQ(Set(67, 0), STATUS_SUCCESS);
    std::vector<BusRecord> commands = Commands();
    ASSERT_GT(commands.size(), 600u);
    EXPECT_EQ(commands[0].data[0], 0x06) << "the start-up command comes first";
    EXPECT_EQ(Get(20), 300);
}

TEST_F(ControlPropertiesTest, ARequestWithoutAFilterFindsNoDevice) {
    IRP irp{};
    ControlRequest request{};
    for (uint32_t id : {0u, 1u, 2u, 4u, 14u, 20u, 49u, 58u, 67u}) {
        const ControlProperty& property = kControlProperties[id];
        PFNKSHANDLER handler = property.get ? property.get : property.set;
        EXPECT_EQ(handler(&irp, &request, &request), STATUS_UNSUCCESSFUL) << property.name;
    }
    // The setting ranges look nothing up.
    EXPECT_EQ(kControlProperties[18].get(&irp, &request, &request), STATUS_SUCCESS);
    EXPECT_EQ(request.value, 512);
}

}  // namespace
}  // namespace bayercam
