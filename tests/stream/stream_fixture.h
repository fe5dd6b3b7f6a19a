// A started device on the simulated bus with the fake camera behind its operations table, and
// what stream tests need to reach its filter, pin and capture record.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "bayercam/camera.h"
#include "bayercam/client.h"
#include "core/capture_context.h"
#include "fake_camera.h"
#include "stream/capture_pin.h"
#include "support/leak_check.h"
#include "support/sim_device.h"

namespace bayercam::test {

class StreamFixture : public testing::LeakCheckedTest<> {
  protected:
    void SetUp() override;
    void ReleaseAll() override { sim_.reset(); }

    CameraDevice* device() { return sim_->device(); }
    CaptureContext* context() { return device()->captureContext; }
    // The capture filter, opened through the device's factories.
    void OpenFilter(client::Filter* filter);
    // The format the pin offers for the current geometry, by intersection with its own range.
    std::vector<uint8_t> OfferedFormat(const client::Filter& filter);
    // Creates the capture pin of `filter` with the offered format.
    void CreatePin(const client::Filter& filter, client::Pin* pin, bool clock = true);

    FakeCamera fake_;
    std::unique_ptr<testing::SimDevice> sim_;
};

CapturePin* PinRecord(const client::Pin& pin);
KS_DATAFORMAT_VIDEOINFOHEADER AsVideoFormat(const std::vector<uint8_t>& bytes);

}  // namespace bayercam::test
