#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include "simcam/sim_camera.h"

namespace bayercam::sim {
namespace {

// One transfer submitted straight to the camera, with a way to wait for its completion.
struct Pending {
    explicit Pending(uint8_t endpoint, uint32_t length = 64) : data(length) {
        transfer.endpoint = endpoint;
        transfer.buffer = data.data();
        transfer.length = length;
        transfer.context = this;
        transfer.complete = [](UsbTransfer* t) {
            auto* self = static_cast<Pending*>(t->context);
            self->thread = std::this_thread::get_id();
            self->completions.fetch_add(1);
            self->done.set_value();
        };
    }
    void Wait() { done.get_future().wait(); }

    std::vector<uint8_t> data;
    UsbTransfer transfer{};
    std::promise<void> done;
    std::atomic<int> completions{0};
    std::thread::id thread;
};

SimCameraOptions WithInterfaces(std::vector<SimInterface> interfaces) {
    SimCameraOptions options;
    options.interfaces = std::move(interfaces);
    return options;
}

std::vector<uint8_t> ReadDescriptor(SimCamera& camera, uint8_t type, uint16_t length,
                                    USBD_STATUS* status) {
    std::vector<uint8_t> data(length);
    uint32_t transferred = 0;
    *status = camera.ControlTransfer(
        {0x80, USB_REQUEST_GET_DESCRIPTOR, static_cast<uint16_t>(type << 8), 0, length},
        data.data(), &transferred);
    data.resize(transferred);
    return data;
}

TEST(SimCamera, DescriptorsFollowTheOptions) {
    struct Case {
        const char* name;
        SimCameraOptions options;
        std::vector<uint8_t> expected;  // the configuration descriptor
    };
    SimCameraOptions declared;
    declared.declaredInterfaces = 4;
    declared.interfaces[0].declaredEndpoints = 5;
    const Case cases[] = {
        {"the camera", {}, {9, 2,    39, 0,    1,    1, 0, 0x80, 250,  9,    4,    0,    0,
                            3, 0xFF, 0,  0,    0,    7, 5, 0x01, 2,    0x00, 0x02, 0,    7,
                            5, 0x82, 2,  0x00, 0x02, 0, 7, 5,    0x83, 2,    0x00, 0x02, 0}},
        {"gap and an interface without pipes",
         WithInterfaces({{0, {{0x01, kInterrupt, 64}}}, {2, {}}}),
         {9, 2, 34, 0,    2, 1,  0, 0x80, 250, 9, 4, 0, 0, 1,    0xFF, 0, 0,
          0, 7, 5,  0x01, 3, 64, 0, 0,    9,   4, 2, 0, 0, 0xFF, 0,    0, 0}},
        {"declared counts differ from the content",
         declared,
         {9,    2, 39,   0,    4, 1, 0, 0x80, 250, 9,    4,    0, 0, 5, 0xFF, 0, 0,    0,    7, 5,
          0x01, 2, 0x00, 0x02, 0, 7, 5, 0x82, 2,   0x00, 0x02, 0, 7, 5, 0x83, 2, 0x00, 0x02, 0}},
    };
    for (const Case& c : cases) {
        SimCamera camera(c.options);
        USBD_STATUS status;
        EXPECT_EQ(ReadDescriptor(camera, USB_CONFIGURATION_DESCRIPTOR_TYPE, 255, &status),
                  c.expected)
            << c.name;
        EXPECT_EQ(status, USBD_STATUS_SUCCESS);
    }
}

TEST(SimCamera, DescriptorRequests) {
    SimCameraOptions options;
    options.failDescriptorTypes = 1u << USB_CONFIGURATION_DESCRIPTOR_TYPE;
    SimCamera failing(options);
    SimCamera camera;
    USBD_STATUS status;
    std::vector<uint8_t> device = ReadDescriptor(camera, USB_DEVICE_DESCRIPTOR_TYPE, 18, &status);
    ASSERT_EQ(device.size(), 18u);
    EXPECT_EQ(device[8] | device[9] << 8, 0x1209);  // idVendor
    EXPECT_EQ(ReadDescriptor(camera, USB_CONFIGURATION_DESCRIPTOR_TYPE, 9, &status).size(), 9u);
    EXPECT_TRUE(ReadDescriptor(camera, 3, 255, &status).empty());
    EXPECT_EQ(status, USBD_STATUS_STALL_PID);
    EXPECT_TRUE(ReadDescriptor(failing, USB_CONFIGURATION_DESCRIPTOR_TYPE, 9, &status).empty());
    EXPECT_EQ(status, USBD_STATUS_STALL_PID);
    ReadDescriptor(failing, USB_DEVICE_DESCRIPTOR_TYPE, 18, &status);
    EXPECT_EQ(status, USBD_STATUS_SUCCESS);
    uint32_t transferred;
    EXPECT_EQ(camera.ControlTransfer({0x00, USB_REQUEST_SET_CONFIGURATION, 1, 0, 0}, nullptr,
                                     &transferred),
              USBD_STATUS_STALL_PID);
}

TEST(SimCamera, TransfersNeedTheConfigurationAndAKnownEndpoint) {
    SimCamera camera;
    Pending early(kCommandEndpoint);
    EXPECT_EQ(camera.Submit(&early.transfer), USBD_STATUS_INVALID_PIPE_HANDLE);
    EXPECT_EQ(camera.SetConfiguration(2), USBD_STATUS_STALL_PID);
    ASSERT_EQ(camera.SetConfiguration(1), USBD_STATUS_SUCCESS);
    Pending unknown(0x84);
    EXPECT_EQ(camera.Submit(&unknown.transfer), USBD_STATUS_INVALID_PIPE_HANDLE);

    SimCameraOptions options;
    options.failSetConfiguration = true;
    SimCamera refusing(options);
    EXPECT_EQ(refusing.SetConfiguration(1), USBD_STATUS_STALL_PID);
    EXPECT_EQ(refusing.Configuration(), 0);
}

TEST(SimCamera, CommandsCompleteOnTheCameraThreadAndReachTheHandler) {
    SimCamera camera;
    camera.SetConfiguration(1);
    std::vector<uint8_t> handled;
    camera.SetCommandHandler([&](SimCamera& self, const uint8_t* packet, uint32_t length) {
        handled.assign(packet, packet + length);
        uint8_t answer[64] = {0x26, packet[1]};
        self.QueueResponse(answer, sizeof answer);
    });
    Pending command(kCommandEndpoint);
    command.data[0] = 0x26;
    command.data[1] = 15;
    Pending response(kResponseEndpoint);
    ASSERT_EQ(camera.Submit(&response.transfer), USBD_STATUS_SUCCESS);
    ASSERT_EQ(camera.Submit(&command.transfer), USBD_STATUS_SUCCESS);
    command.Wait();
    response.Wait();
    EXPECT_NE(command.thread, std::this_thread::get_id());
    EXPECT_EQ(command.transfer.status, USBD_STATUS_SUCCESS);
    EXPECT_EQ(command.transfer.actualLength, 64u);
    EXPECT_EQ(handled, command.data);
    EXPECT_EQ(camera.ReceivedCommands(), std::vector<std::vector<uint8_t>>{command.data});
    EXPECT_EQ(response.transfer.actualLength, 64u);
    EXPECT_EQ(response.data[1], 15);
}

TEST(SimCamera, FaultTableActsOnTheNumberedTransfer) {
    struct Case {
        SimFault fault;  // on the second command transfer
        USBD_STATUS firstStatus;
        uint32_t firstLength;
        USBD_STATUS secondStatus;  // the next transfer on the endpoint
    };
    const Case cases[] = {
        {{kCommandEndpoint, 2, SimFaultAction::Stall},
         USBD_STATUS_STALL_PID,
         0,
         USBD_STATUS_STALL_PID},
        {{kCommandEndpoint, 2, SimFaultAction::Error},
         USBD_STATUS_DEV_NOT_RESPONDING,
         0,
         USBD_STATUS_SUCCESS},
        {{kCommandEndpoint, 2, SimFaultAction::Short, 10},
         USBD_STATUS_SUCCESS,
         10,
         USBD_STATUS_SUCCESS},
        {{kCommandEndpoint, 2, SimFaultAction::Status, 0, USBD_STATUS_DEVICE_GONE},
         USBD_STATUS_DEVICE_GONE,
         0,
         USBD_STATUS_SUCCESS},
        {{kCommandEndpoint, 2, SimFaultAction::Long, 0, USBD_STATUS_SUCCESS, 7},
         USBD_STATUS_SUCCESS,
         64 + 7,
         USBD_STATUS_SUCCESS},
    };
    for (const Case& c : cases) {
        SimCamera camera;
        camera.SetConfiguration(1);
        camera.AddFault(c.fault);
        Pending first(kCommandEndpoint), second(kCommandEndpoint), third(kCommandEndpoint);
        for (Pending* p : {&first, &second, &third}) {
            ASSERT_EQ(camera.Submit(&p->transfer), USBD_STATUS_SUCCESS);
            p->Wait();
        }
        EXPECT_EQ(first.transfer.status, USBD_STATUS_SUCCESS);
        EXPECT_EQ(second.transfer.status, c.firstStatus);
        EXPECT_EQ(second.transfer.actualLength, c.firstLength);
        EXPECT_EQ(third.transfer.status, c.secondStatus);
    }
}

TEST(SimCamera, StartNewRunForgetsFaultsHaltsResponsesAndCommands) {
    SimCamera camera;
    camera.SetConfiguration(1);
    camera.AddFault({kCommandEndpoint, 1, SimFaultAction::Stall});
    camera.AddFault({kCommandEndpoint, 3, SimFaultAction::Error});
    Pending stalled(kCommandEndpoint);
    ASSERT_EQ(camera.Submit(&stalled.transfer), USBD_STATUS_SUCCESS);
    stalled.Wait();
    const uint8_t stale[64] = {0x77};
    camera.QueueResponse(stale, sizeof stale);
    camera.StartNewRun();
    Pending second(kCommandEndpoint), third(kCommandEndpoint);
    for (Pending* p : {&second, &third}) {
        ASSERT_EQ(camera.Submit(&p->transfer), USBD_STATUS_SUCCESS);
        p->Wait();
    }
    EXPECT_EQ(stalled.transfer.status, USBD_STATUS_STALL_PID);
    EXPECT_EQ(second.transfer.status, USBD_STATUS_SUCCESS);
    EXPECT_EQ(third.transfer.status, USBD_STATUS_SUCCESS);
    EXPECT_EQ(camera.PendingTransfers(), 0);
    EXPECT_EQ(camera.ReceivedCommands().size(), 2u);
    const uint8_t fresh[64] = {0x11};
    camera.QueueResponse(fresh, sizeof fresh);
    Pending response(kResponseEndpoint);
    ASSERT_EQ(camera.Submit(&response.transfer), USBD_STATUS_SUCCESS);
    response.Wait();
    EXPECT_EQ(response.data[0], 0x11);
}

TEST(SimCamera, EmptyReadsWaitUnlessAnsweredForTheRun) {
    SimCamera camera;
    camera.SetConfiguration(1);
    Pending waiting(kResponseEndpoint);
    ASSERT_EQ(camera.Submit(&waiting.transfer), USBD_STATUS_SUCCESS);
    EXPECT_EQ(camera.PendingTransfers(), 1);
    camera.SetAnswerEmptyReads(true);  // also answers the read already waiting
    waiting.Wait();
    EXPECT_EQ(waiting.transfer.status, USBD_STATUS_SUCCESS);
    EXPECT_EQ(waiting.transfer.actualLength, 0u);
    camera.StartNewRun();
    Pending next(kResponseEndpoint);
    ASSERT_EQ(camera.Submit(&next.transfer), USBD_STATUS_SUCCESS);
    EXPECT_EQ(camera.PendingTransfers(), 1);
    camera.Unplug();
    next.Wait();
}

TEST(SimCamera, FaultsCountFromWhenTheyAreAdded) {
    SimCamera camera;
    camera.SetConfiguration(1);
    Pending before(kCommandEndpoint);
    ASSERT_EQ(camera.Submit(&before.transfer), USBD_STATUS_SUCCESS);
    before.Wait();
    camera.AddFault({kCommandEndpoint, 1, SimFaultAction::Error});
    Pending next(kCommandEndpoint);
    ASSERT_EQ(camera.Submit(&next.transfer), USBD_STATUS_SUCCESS);
    next.Wait();
    EXPECT_EQ(before.transfer.status, USBD_STATUS_SUCCESS);
    EXPECT_EQ(next.transfer.status, USBD_STATUS_DEV_NOT_RESPONDING);
}

TEST(SimCamera, HaltStaysUntilCleared) {
    SimCamera camera;
    camera.SetConfiguration(1);
    camera.AddFault({kCommandEndpoint, 1, SimFaultAction::Stall});
    Pending stalled(kCommandEndpoint);
    camera.Submit(&stalled.transfer);
    stalled.Wait();
    EXPECT_EQ(camera.ClearHalt(kCommandEndpoint), USBD_STATUS_SUCCESS);
    EXPECT_EQ(camera.HaltsCleared(kCommandEndpoint), 1);
    Pending after(kCommandEndpoint);
    camera.Submit(&after.transfer);
    after.Wait();
    EXPECT_EQ(after.transfer.status, USBD_STATUS_SUCCESS);
}

TEST(SimCamera, InTransfersWaitUntilCancelledAbortedOrDeconfigured) {
    SimCamera camera;
    camera.SetConfiguration(1);
    camera.AddFault({kCommandEndpoint, 1, SimFaultAction::NoAnswer});
    Pending silent(kCommandEndpoint), response(kResponseEndpoint), image(kImageEndpoint),
        deconfigured(kImageEndpoint);
    for (Pending* p : {&silent, &response, &image, &deconfigured}) {
        ASSERT_EQ(camera.Submit(&p->transfer), USBD_STATUS_SUCCESS);
    }
    EXPECT_EQ(camera.PendingTransfers(), 4);
    camera.Cancel(&silent.transfer);
    camera.Cancel(&response.transfer);
    camera.AbortEndpoint(kImageEndpoint);
    silent.Wait();
    response.Wait();
    image.Wait();
    deconfigured.Wait();
    for (Pending* p : {&silent, &response, &image, &deconfigured}) {
        EXPECT_EQ(p->transfer.status, USBD_STATUS_CANCELED);
        EXPECT_EQ(p->completions.load(), 1);
    }
    // A cancel of a transfer that already completed changes nothing.
    camera.Cancel(&response.transfer);
    Pending late(kResponseEndpoint);
    camera.Submit(&late.transfer);
    camera.SetConfiguration(0);
    late.Wait();
    EXPECT_EQ(late.transfer.status, USBD_STATUS_CANCELED);
    EXPECT_EQ(camera.PendingTransfers(), 0);
}

TEST(SimCamera, ImageSourceFillsWaitingTransfersWhenReady) {
    SimCamera camera;
    camera.SetConfiguration(1);
    std::atomic<bool> ready{false};
    camera.SetImageSource([&](uint8_t* buffer, uint32_t length, uint32_t* produced) {
        if (!ready.load()) return false;
        for (uint32_t i = 0; i < length; ++i) buffer[i] = static_cast<uint8_t>(i);
        *produced = length;
        return true;
    });
    Pending image(kImageEndpoint, 4096);
    camera.Submit(&image.transfer);
    EXPECT_EQ(image.completions.load(), 0);
    ready = true;
    camera.WakeImageSource();
    image.Wait();
    EXPECT_EQ(image.transfer.actualLength, 4096u);
    EXPECT_EQ(image.data[255], 255);
}

TEST(SimCamera, DestructionCompletesWhatIsPending) {
    Pending response(kResponseEndpoint);
    {
        SimCamera camera;
        camera.SetConfiguration(1);
        camera.Submit(&response.transfer);
    }
    EXPECT_EQ(response.completions.load(), 1);
    EXPECT_EQ(response.transfer.status, USBD_STATUS_DEVICE_GONE);
}

TEST(SimCamera, PortResetEnablesAConnectedPort) {
    struct Case {
        uint32_t before;
        NTSTATUS resetStatus;
        uint32_t after;
    };
    const Case cases[] = {
        {USBD_PORT_CONNECTED, STATUS_SUCCESS, USBD_PORT_CONNECTED | USBD_PORT_ENABLED},
        {0, STATUS_SUCCESS, 0},
        {USBD_PORT_CONNECTED, STATUS_UNSUCCESSFUL, USBD_PORT_CONNECTED},
    };
    for (const Case& c : cases) {
        SimCameraOptions options;
        options.portStatus = c.before;
        options.resetPortStatus = c.resetStatus;
        SimCamera camera(options);
        EXPECT_EQ(camera.PortStatus(), c.before);
        EXPECT_EQ(camera.ResetPort(), c.resetStatus);
        EXPECT_EQ(camera.PortStatus(), c.after);
        EXPECT_EQ(camera.PortResets(), 1);
    }
}

TEST(SimCamera, RegisterFileKeepsValuesInRange) {
    SimCamera camera;
    camera.SetSensorRegister(1023, 0x3FFFFF);
    camera.SetSensorRegister(1024, 5);
    camera.SetLogicRegister(255, 7);
    camera.SetLogicRegister(-1, 7);
    EXPECT_EQ(camera.SensorRegister(1023), 0x3FFFFFu);
    EXPECT_EQ(camera.SensorRegister(1024), 0u);
    EXPECT_EQ(camera.LogicRegister(255), 7);
    EXPECT_EQ(camera.LogicRegister(0), 0);
}

}  // namespace
}  // namespace bayercam::sim
