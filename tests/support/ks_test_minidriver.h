// A minidriver for the class-driver tests: it records every call the class driver makes, answers
// as the test tells it, and does what a real minidriver does with its objects (contexts in the
// object bags, its own copy of the pin descriptor and framing).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ks/ks.h"
#include "platform/ks/ks_types.h"

namespace bayercam::test {

constexpr GUID kTestPropertySet = {
    0x1F0C2A55, 0x3B7E, 0x4C11, {0x9A, 0x20, 0x5D, 0x61, 0x0E, 0x42, 0x77, 0x13}};
constexpr GUID kOtherSubFormat = {
    0x32595559, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// Property items of the test set.
enum : uint32_t {
    kPropReadWrite = 0,  // get and set, MinProperty 24, MinData 4
    kPropReadOnly = 1,   // get only
    kPropWriteOnly = 2,  // set only
    kPropLarge = 3,      // get, MinProperty 32, MinData 8
};

// A small RGB32 picture, so that test frames stay small.
constexpr int32_t kTestWidth = 16;
constexpr int32_t kTestHeight = 8;
constexpr uint32_t kTestImageBytes = kTestWidth * kTestHeight * 4;

constexpr uint32_t kDefaultPinFlags = KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING |
                                      KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING |
                                      KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY;

struct StateCall {
    KSSTATE to;
    KSSTATE from;
    bool operator==(const StateCall&) const = default;
};

struct TestMiniDriver {
    explicit TestMiniDriver(uint32_t pinFlags = kDefaultPinFlags);
    ~TestMiniDriver();
    TestMiniDriver(const TestMiniDriver&) = delete;
    TestMiniDriver& operator=(const TestMiniDriver&) = delete;

    // A connection format that matches the pin's RGB32 range.
    static KS_DATAFORMAT_VIDEOINFOHEADER Format();

    // Answers.
    NTSTATUS filterCreateStatus = STATUS_SUCCESS;
    NTSTATUS pinCreateStatus = STATUS_SUCCESS;
    NTSTATUS setFormatStatus = STATUS_SUCCESS;
    std::optional<StateCall> failingStep;              // this SetDeviceState call fails...
    NTSTATUS failingStepStatus = STATUS_UNSUCCESSFUL;  // ...with this status
    // The body of a pass; by default it completes the leading frame, if any, with its bytes
    // set to the pass number and DataUsed = FrameExtent, and returns STATUS_PENDING.
    std::function<NTSTATUS(KSPIN*)> process;

    // Records. Create, close, format and state calls come from the thread that makes the
    // request, so the test reads them once its requests have returned.
    void ClearRecords();
    std::vector<std::string> calls;
    std::vector<StateCall> stateCalls;
    std::atomic<KSSTATE> driverState{
        KSSTATE_STOP};  // as the last successful SetDeviceState left it
    std::atomic<int> passes{0};
    std::atomic<int> handlerCalls{0};
    std::vector<const KSDATARANGE*> intersectRanges;  // descriptor ranges offered, in order
    const KSDATARANGE* setFormatRange = nullptr;
    uint32_t propertyValue = 0;  // what kPropReadWrite holds
    KSFILTER* createdFilter = nullptr;
    bool irpLedToFilter = true;      // every create, close and property request found its filter
    bool objectsLedToDevice = true;  // KsGetDevice of every filter and pin gave `device`

    // Descriptors, filled by the constructor.
    KS_DATARANGE_VIDEO otherRange{};
    KS_DATARANGE_VIDEO videoRange{};
    const KSDATARANGE* ranges[2]{};
    KSALLOCATOR_FRAMING_EX framing{};
    KSPIN_DISPATCH pinDispatch{};
    KSFILTER_DISPATCH filterDispatch{};
    KSPIN_DESCRIPTOR_EX pinDescriptor{};
    KSPROPERTY_ITEM items[4]{};
    KSPROPERTY_SET propertySet{};
    KSAUTOMATION_TABLE automation{};
    KSFILTER_DESCRIPTOR filterDescriptor{};
    KSDEVICE device{};
};

// The minidriver the callbacks report to (the one constructed last).
TestMiniDriver& Driver();

// A client frame: its header, room for a frame-info header right after it, and its data.
struct TestFrame {
    explicit TestFrame(uint32_t bytes = kTestImageBytes, bool withFrameInfo = true);
    KSSTREAM_HEADER* Header() { return &headers.header; }

    struct {
        KSSTREAM_HEADER header;
        KS_FRAME_INFO frameInfo;
    } headers{};
    std::vector<uint8_t> data;
};

}  // namespace bayercam::test
