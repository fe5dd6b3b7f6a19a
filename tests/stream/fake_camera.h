// A camera behind the CameraOps table that the test drives: frames come when the test lets
// them (or as fast as asked), reads can fail or hang until cancelled, and every call is counted.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "core/camera_device.h"

namespace bayercam::test {

enum class ReadMode {
    Free,   // every read succeeds at once (with a short pause, so as not to spin)
    Gated,  // a read waits for a frame the test releases; a cancel fails it
    Fail,   // every read fails at once
    Hang,   // a read waits until it is cancelled, then fails
};

class FakeCamera {
  public:
    FakeCamera();
    ~FakeCamera();
    FakeCamera(const FakeCamera&) = delete;
    FakeCamera& operator=(const FakeCamera&) = delete;

    // Puts this camera behind `device`'s operations table.
    void Attach(CameraDevice* device);

    void SetMode(ReadMode mode);
    // Lets `count` gated reads complete.
    void Release(int count = 1);
    // Blocks until `count` reads have begun in total.
    void WaitReadsStarted(int count);
    // Every raw frame starts as this image (1360 x 1024 bytes); empty: left as it is.
    void SetImage(std::vector<uint8_t> image);
    // StartCapture leaves the raw geometry unset, as a camera that could not be programmed.
    bool configure = true;

    int startCaptures() const { return startCaptures_.load(); }
    int readsStarted() const { return readsStarted_.load(); }
    int readsSucceeded() const { return readsSucceeded_.load(); }
    int cancels() const { return cancels_.load(); }
    int aborts() const { return aborts_.load(); }
    int cancelledReads() const { return cancelledReads_.load(); }
    // The buffer each read went into, in order.
    std::vector<uint8_t*> ReadBuffers() const;

  private:
    static bool StartCapture(CameraDevice* device);
    static bool ReadFrame(CameraDevice* device, uint8_t* buffer, bool* ok);
    static void AbortMarkedPipes(CameraDevice* device);
    static void CancelFrameRead(CameraDevice* device);
    bool Read(uint8_t* buffer);

    static const CameraOps kOps;
    static std::atomic<FakeCamera*> current_;

    mutable std::mutex lock_;
    std::condition_variable changed_;
    ReadMode mode_ = ReadMode::Gated;
    int permits_ = 0;
    uint64_t cancelGeneration_ = 0;
    std::vector<uint8_t> image_;
    std::vector<uint8_t*> buffers_;
    std::atomic<int> startCaptures_{0};
    std::atomic<int> readsStarted_{0};
    std::atomic<int> readsSucceeded_{0};
    std::atomic<int> cancels_{0};
    std::atomic<int> aborts_{0};
    std::atomic<int> cancelledReads_{0};
};

}  // namespace bayercam::test
