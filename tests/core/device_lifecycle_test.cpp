#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/camera_ops.h"
#include "core/capture_context.h"
#include "platform/kernel/pool.h"
#include "platform/ks/ks_object_bag.h"
#include "stream/capture_filter.h"
#include "support/sim_device.h"

namespace bayercam {
namespace {

using testing::SimDevice;
using testing::SimDeviceTest;

class DeviceLifecycleTest : public SimDeviceTest {
  protected:
    SimDevice& Make(sim::SimCameraOptions options = {}) {
        sim_ = std::make_unique<SimDevice>(std::move(options));
        return *sim_;
    }
    int Factories() {
        int count = 0;
        for (KSFILTERFACTORY* f = KsDeviceGetFirstChildFilterFactory(sim_->ksDevice); f;
             f = KsFilterFactoryGetNextSiblingFilterFactory(f)) {
            ++count;
        }
        return count;
    }
};

TEST_F(DeviceLifecycleTest, DriverEntryHandsTheDeviceDescriptorToTheClassDriver) {
    DRIVER_OBJECT driver{};
    EXPECT_EQ(DriverEntry(&driver, "path"), STATUS_SUCCESS);
    ASSERT_EQ(driver.KsDeviceDescriptor, &CameraDeviceDescriptor);
    const KSDEVICE_DISPATCH* dispatch = CameraDeviceDescriptor.Dispatch;
    EXPECT_EQ(dispatch->Add, &DeviceAdd);
    EXPECT_EQ(dispatch->Start, &DeviceStart);
    EXPECT_EQ(dispatch->Stop, &DeviceStop);
    EXPECT_EQ(dispatch->Remove, nullptr);
    EXPECT_EQ(CameraDeviceDescriptor.FilterDescriptorsCount, 0u);
}

TEST_F(DeviceLifecycleTest, AddedDeviceHoldsItsDefaults) {
    SimDevice& sim = Make();
    ASSERT_EQ(sim.Add(), STATUS_SUCCESS);
    CameraDevice* device = sim.device();
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->ops, &kCameraOps);
    EXPECT_EQ(device->ksDevice, sim.ksDevice);
    EXPECT_EQ(device->usb.physicalDevice, sim.bus.PhysicalDevice());
    EXPECT_EQ(device->usb.lowerDevice, sim.bus.PhysicalDevice());
    EXPECT_EQ(device->usb.functionalDevice, sim.ksDevice->FunctionalDeviceObject);
    EXPECT_EQ(device->usb.configDescriptor, nullptr);
    EXPECT_EQ(device->captureContext, nullptr);
    struct Field {
        const char* name;
        int64_t value;
        int64_t expected;
    };
    const Field fields[] = {
        {"timeout", device->timeout, 3000},
        {"exposure", device->exposure, 0},
        {"globalGain", device->globalGain, 0},
        {"colorEnable", device->colorEnable, 1},
        {"redGain", device->redGain, 128},
        {"greenGain", device->greenGain, 128},
        {"blueGain", device->blueGain, 128},
        {"colorCorrection", device->colorCorrection, 1},
        {"brightness", device->brightness, 255},
        {"contrast", device->contrast, 10},
        {"saturation", device->saturation, 10},
        {"hue", device->hue, 0},
        {"clock", device->clock, 0},
        {"pipelineMode", device->pipelineMode, 2},
        {"defaultPipelineMode", device->defaultPipelineMode, 2},
        {"roiX", device->roiX, 0},
        {"roiY", device->roiY, 0},
        {"roiW", device->roiW, 1360},
        {"roiH", device->roiH, 1024},
        {"outputWidth", device->outputWidth, 1360},
        {"outputHeight", device->outputHeight, 1024},
        {"readoutWidth", device->readoutWidth, 1360},
        {"readoutHeight", device->readoutHeight, 1024},
        {"rawFrameBytes", device->rawFrameBytes, 0},
        {"rawStride", device->rawStride, 0},
        {"rawOffset", device->rawOffset, 0},
        {"geometryLocked", device->geometryLocked, 0},
        {"frameCounter", device->frameCounter, 0},
        {"extraValue", device->extraValue, 0},
    };
    for (const Field& f : fields) EXPECT_EQ(f.value, f.expected) << f.name;
    for (uint8_t byte : device->frameMarkPacket) EXPECT_EQ(byte, 0);
    EXPECT_EQ(device->registerShadow[1023], 0);
}

TEST_F(DeviceLifecycleTest, OperationTableAccessors) {
    SimDevice& sim = Make();
    ASSERT_EQ(sim.Add(), STATUS_SUCCESS);
    CameraDevice* device = sim.device();
    device->rawFrameBytes = 1392640;
    device->rawStride = 1360;
    device->rawOffset = 4;
    device->roiX = 8;
    device->roiY = 6;
    uint32_t size;
    int32_t stride, offset;
    device->ops->GetRawFrameSize(device, &size);
    device->ops->GetRawStride(device, &stride);
    device->ops->GetRawOffset(device, &offset);
    EXPECT_EQ(size, 1392640u);
    EXPECT_EQ(stride, 1360);
    EXPECT_EQ(offset, 4);
    EXPECT_EQ(device->ops->GetRoiX(device), 8);
    EXPECT_EQ(device->ops->GetRoiY(device), 6);
    EXPECT_EQ(device->ops->GetExtraValue(device), 0);
    EXPECT_EQ(SetGeometryLock(device, 1), 0);
    EXPECT_EQ(SetGeometryLock(device, 0), 1);
    device->flipH = 3;
    EXPECT_EQ(ReadFlipH(device), 3);
    EXPECT_EQ(ReadFlipV(device), 0);
    device->pipelineMode = 0;
    RefreshPipelineMode(device);
    EXPECT_EQ(device->pipelineMode, 2);
}

TEST_F(DeviceLifecycleTest, FrameReadyCountsEachFrameAndTellsTheSink) {
    struct CountingSink : FrameSink {
        NTSTATUS NotifyFrame() override {
            ++calls;
            return STATUS_PENDING;
        }
        int calls = 0;
    };
    SimDevice& sim = Make();
    ASSERT_EQ(sim.Add(), STATUS_SUCCESS);
    CameraDevice* device = sim.device();
    EXPECT_EQ(device->ops->OnFrameReady(device), STATUS_INVALID_DEVICE_STATE);
    CountingSink sink;
    device->frameSink = &sink;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(device->ops->OnFrameReady(device), STATUS_PENDING);
    EXPECT_EQ(device->frameCounter, 4);
    EXPECT_EQ(sink.calls, 3);
}

TEST_F(DeviceLifecycleTest, StartCreatesTheFactoryAndCaptureRecordAndSelectsTheConfiguration) {
    SimDevice& sim = Make();
    sim.AddAndStart();
    CameraDevice* device = sim.device();
    ASSERT_EQ(Factories(), 1);
    KSFILTERFACTORY* factory = KsDeviceGetFirstChildFilterFactory(sim.ksDevice);
    EXPECT_STREQ(factory->RefString, "GLOBAL");
    EXPECT_EQ(factory->FilterDescriptor, &CaptureFilterDescriptor);
    EXPECT_EQ(factory->CreateItemFlags, KSCREATE_ITEM_FREEONSTOP);
    ASSERT_NE(device->captureContext, nullptr);
    EXPECT_EQ(device->captureContext->device, device);
    EXPECT_FALSE(KeReadStateEvent(&device->captureContext->processDone));
    EXPECT_EQ(KsObjectBagCount(sim.ksDevice->Bag), 2);
    ASSERT_NE(device->usb.configDescriptor, nullptr);
    EXPECT_EQ(device->usb.configDescriptor->wTotalLength, 39);
    ASSERT_NE(device->usb.interfaceInfo, nullptr);
    EXPECT_EQ(device->usb.interfaceInfo->NumberOfPipes, 3u);
    ASSERT_NE(device->usb.pipeAbortMarks, nullptr);
    EXPECT_EQ(device->usb.pipeAbortMarks[2], 0);

    sim.Stop();
    EXPECT_EQ(Factories(), 0);
    EXPECT_EQ(device->usb.configDescriptor, nullptr);
    EXPECT_EQ(device->usb.interfaceInfo, nullptr);
    EXPECT_EQ(device->usb.pipeAbortMarks, nullptr);
    EXPECT_EQ(sim.camera.Configuration(), 0);
    BusRecord last = sim.Records().back();
    EXPECT_EQ(last.setup.bRequest, USB_REQUEST_SET_CONFIGURATION);
    EXPECT_EQ(last.setup.wValue, 0);

    ASSERT_EQ(sim.Start(), STATUS_SUCCESS);
    EXPECT_EQ(Factories(), 1);
    EXPECT_EQ(KsObjectBagCount(sim.ksDevice->Bag), 3);  // a new record for each start
}

TEST_F(DeviceLifecycleTest, StartOnAStartedDeviceOnlyConfiguresAgain) {
    SimDevice& sim = Make();
    sim.AddAndStart();
    CaptureContext* first = sim.device()->captureContext;
    int64_t live = pool::LiveAllocations();
    ASSERT_EQ(sim.Start(), STATUS_SUCCESS);
    EXPECT_EQ(Factories(), 1);
    EXPECT_EQ(KsObjectBagCount(sim.ksDevice->Bag), 2);
    EXPECT_EQ(sim.device()->captureContext, first);
    EXPECT_EQ(sim.Records(BusRequestKind::Control).size(), 8u);
    EXPECT_EQ(pool::LiveAllocations(), live);  // the earlier configuration was released
}

TEST_F(DeviceLifecycleTest, FailedStartReportsTheRequestAndStopsCleanly) {
    struct Case {
        const char* name;
        sim::SimCameraOptions options;
        NTSTATUS status;
        bool configKept;
        size_t controlRequests;  // during the start
    };
    sim::SimCameraOptions noDevice, noConfig, noSelect, missingEndpoints, tinyTotal;
    noDevice.failDescriptorTypes = 1u << USB_DEVICE_DESCRIPTOR_TYPE;
    noConfig.failDescriptorTypes = 1u << USB_CONFIGURATION_DESCRIPTOR_TYPE;
    noSelect.failSetConfiguration = true;
    missingEndpoints.interfaces[0].declaredEndpoints = 4;
    tinyTotal.rawConfigDescriptor = {9, 2, 5, 0, 1, 1, 0, 0x80, 250};
    const Case cases[] = {
        {"device descriptor refused", noDevice, STATUS_UNSUCCESSFUL, false, 1},
        {"configuration descriptor refused", noConfig, STATUS_UNSUCCESSFUL, false, 2},
        {"configuration refused", noSelect, STATUS_UNSUCCESSFUL, true, 4},
        {"interface declares missing endpoints", missingEndpoints, STATUS_INVALID_PARAMETER, true,
         4},
        {"total length shorter than the header", tinyTotal, STATUS_INVALID_PARAMETER, false, 2},
    };
    for (const Case& c : cases) {
        SimDevice& sim = Make(c.options);
        ASSERT_EQ(sim.Add(), STATUS_SUCCESS);
        EXPECT_EQ(sim.Start(), c.status) << c.name;
        CameraDevice* device = sim.device();
        EXPECT_EQ(device->usb.configDescriptor != nullptr, c.configKept) << c.name;
        EXPECT_EQ(device->usb.interfaceInfo, nullptr) << c.name;
        EXPECT_EQ(sim.Records(BusRequestKind::Control).size(), c.controlRequests) << c.name;
        EXPECT_NE(device->captureContext, nullptr) << c.name;
        EXPECT_EQ(Factories(), 1) << c.name;
        sim.Stop();
        EXPECT_EQ(device->usb.configDescriptor, nullptr) << c.name;
        EXPECT_EQ(Factories(), 0) << c.name;
        sim.Stop();  // a second stop changes nothing
        sim_.reset();
    }
}

// Every pool allocation of add, start, stop and removal fails in turn: whatever the outcome,
// nothing is leaked or freed twice.
TEST_F(DeviceLifecycleTest, EveryAllocationFailedInTurnLeavesNothingBehind) {
    // A command pipe that cannot carry packets keeps the camera start-up out of the sweep: its
    // hundreds of packets all allocate alike, and their failures are tested with the packets.
    sim::SimCameraOptions options;
    options.interfaces[0].endpoints[0].attributes = sim::kIsochronous;
    for (uint64_t n = 1;; ++n) {
        pool::Reset();
        SimDevice& sim = Make(options);
        pool::FailNth(n);
        if (NT_SUCCESS(sim.Add())) {
            NTSTATUS status = sim.Start();
            EXPECT_TRUE(status == STATUS_SUCCESS || status == STATUS_INSUFFICIENT_RESOURCES)
                << "allocation " << n << ": " << NtStatusName(status);
            sim.Stop();
            sim.Remove();
        } else {
            EXPECT_EQ(sim.ksDevice, nullptr);
        }
        sim_.reset();
        ASSERT_EQ(pool::LiveAllocations(), live_) << "allocation " << n;
        if (pool::InjectedFailures() == 0) {
            EXPECT_GT(n, 10u);  // the cycle does allocate
            break;
        }
    }
}

}  // namespace
}  // namespace bayercam
