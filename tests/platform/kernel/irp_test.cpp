#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "platform/kernel/irp.h"
#include "platform/kernel/pool.h"
#include "support/leak_check.h"

namespace bayercam {
namespace {

// A lower driver whose dispatch the test decides.
struct FakeLower {
    DEVICE_OBJECT device{};
    std::function<NTSTATUS(IRP*)> dispatch;

    FakeLower() {
        device.StackSize = 1;
        device.DeviceExtension = this;
        device.InternalDeviceControl = [](DEVICE_OBJECT* d, IRP* irp) {
            return static_cast<FakeLower*>(d->DeviceExtension)->dispatch(irp);
        };
    }
};

NTSTATUS CompleteWith(IRP* irp, NTSTATUS status) {
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, 0);
    return status;
}

struct RoutineLog {
    int calls = 0;
    NTSTATUS returns = STATUS_SUCCESS;
};

NTSTATUS LoggingRoutine(DEVICE_OBJECT*, IRP*, void* context) {
    auto* log = static_cast<RoutineLog*>(context);
    ++log->calls;
    return log->returns;
}

class IrpTest : public testing::LeakCheckedTest<> {};

TEST_F(IrpTest, CompletionRoutineRunsOnlyForItsFlags) {
    struct Case {
        NTSTATUS status;
        bool cancelled;
        bool onSuccess, onError, onCancel;
        bool invoked;
    };
    const Case cases[] = {
        {STATUS_SUCCESS, false, true, false, false, true},
        {STATUS_SUCCESS, false, false, true, true, false},
        {STATUS_UNSUCCESSFUL, false, false, true, false, true},
        {STATUS_UNSUCCESSFUL, false, true, false, false, false},
        {STATUS_CANCELLED, true, false, false, true, true},
        {STATUS_CANCELLED, true, true, false, false, false},
        {STATUS_PENDING, false, true, false, false, true},  // informational counts as success
    };
    for (const Case& c : cases) {
        IRP* irp = IoAllocateIrp(1, false);
        ASSERT_NE(irp, nullptr);
        RoutineLog log{0, STATUS_MORE_PROCESSING_REQUIRED};
        IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        IoSetCompletionRoutine(irp, &LoggingRoutine, &log, c.onSuccess, c.onError, c.onCancel);
        FakeLower lower;
        lower.dispatch = [&](IRP* r) { return CompleteWith(r, c.status); };
        if (c.cancelled) irp->Cancel.store(true);
        IofCallDriver(&lower.device, irp);
        EXPECT_EQ(log.calls, c.invoked ? 1 : 0) << "status " << NtStatusName(c.status);
        IoFreeIrp(irp);
    }
}

TEST_F(IrpTest, BuiltRequestSignalsItsEventAndFreesItselfWhenCompletedInDispatch) {
    FakeLower lower;
    lower.dispatch = [](IRP* irp) {
        irp->IoStatus.Information = 7;
        return CompleteWith(irp, STATUS_BUFFER_OVERFLOW);
    };
    KEVENT event;
    KeInitializeEvent(&event);
    IO_STATUS_BLOCK iosb{};
    IRP* irp = IoBuildDeviceIoControlRequest(0x220003, &lower.device, nullptr, 0, nullptr, 0, true,
                                             &event, &iosb);
    ASSERT_NE(irp, nullptr);
    EXPECT_EQ(IoGetNextIrpStackLocation(irp)->MajorFunction, IRP_MJ_INTERNAL_DEVICE_CONTROL);
    EXPECT_EQ(IofCallDriver(&lower.device, irp), STATUS_BUFFER_OVERFLOW);
    EXPECT_TRUE(KeReadStateEvent(&event));
    EXPECT_EQ(iosb.Status, STATUS_BUFFER_OVERFLOW);
    EXPECT_EQ(iosb.Information, 7u);
}

TEST_F(IrpTest, PendingRequestCompletedFromAnotherThreadReleasesTheWaiter) {
    FakeLower lower;
    std::thread completer;
    lower.dispatch = [&](IRP* irp) {
        IoMarkIrpPending(irp);
        completer = std::thread([irp] { CompleteWith(irp, STATUS_SUCCESS); });
        return STATUS_PENDING;
    };
    KEVENT event;
    KeInitializeEvent(&event);
    IO_STATUS_BLOCK iosb{STATUS_UNSUCCESSFUL, 0};
    IRP* irp = IoBuildDeviceIoControlRequest(0x220003, &lower.device, nullptr, 0, nullptr, 0, true,
                                             &event, &iosb);
    ASSERT_EQ(IofCallDriver(&lower.device, irp), STATUS_PENDING);
    EXPECT_EQ(KeWaitForSingleObject(&event, nullptr), STATUS_SUCCESS);
    EXPECT_EQ(iosb.Status, STATUS_SUCCESS);
    completer.join();
}

TEST_F(IrpTest, MoreProcessingRequiredKeepsTheRequestUntilCompletedAgain) {
    FakeLower lower;
    lower.dispatch = [](IRP* irp) { return CompleteWith(irp, STATUS_SUCCESS); };
    KEVENT event;
    KeInitializeEvent(&event);
    IO_STATUS_BLOCK iosb{};
    IRP* irp = IoBuildDeviceIoControlRequest(0x220003, &lower.device, nullptr, 0, nullptr, 0, true,
                                             &event, &iosb);
    RoutineLog log{0, STATUS_MORE_PROCESSING_REQUIRED};
    IoSetCompletionRoutine(irp, &LoggingRoutine, &log, true, true, true);
    IofCallDriver(&lower.device, irp);
    EXPECT_EQ(log.calls, 1);
    EXPECT_FALSE(KeReadStateEvent(&event));
    EXPECT_EQ(pool::LiveAllocations(), live_ + 1);  // still the driver's
    IoCompleteRequest(irp, 0);
    EXPECT_TRUE(KeReadStateEvent(&event));
    EXPECT_EQ(log.calls, 1);
}

TEST_F(IrpTest, AllocationsFailWhenThePoolDoes) {
    pool::FailNth(1);
    EXPECT_EQ(IoAllocateIrp(1, false), nullptr);
    pool::FailNth(1);
    uint8_t buffer[8];
    EXPECT_EQ(IoAllocateMdl(buffer, sizeof buffer, false, false, nullptr), nullptr);
    FakeLower lower;
    pool::FailNth(1);
    EXPECT_EQ(IoBuildDeviceIoControlRequest(0x220003, &lower.device, nullptr, 0, nullptr, 0, true,
                                            nullptr, nullptr),
              nullptr);
    EXPECT_EQ(IoAllocateIrp(0, false), nullptr);
    EXPECT_EQ(IoAllocateIrp(kMaxIrpStackSize + 1, false), nullptr);
}

TEST_F(IrpTest, CancelRunsTheRoutineOnceAndOnlyWhileSet) {
    static std::atomic<int> calls;
    calls = 0;
    IRP* irp = IoAllocateIrp(1, false);
    EXPECT_FALSE(IoCancelIrp(irp));
    EXPECT_TRUE(irp->Cancel.load());
    irp->Cancel.store(false);
    IoSetCancelRoutine(irp, [](DEVICE_OBJECT*, IRP*) { ++calls; });
    EXPECT_TRUE(IoCancelIrp(irp));
    EXPECT_FALSE(IoCancelIrp(irp));
    EXPECT_EQ(calls.load(), 1);
    IoFreeIrp(irp);
}

// The completing side takes the cancel routine back while another thread cancels: exactly one of
// them must own the routine, however the two interleave.
TEST_F(IrpTest, CancelRoutineExchangeHasExactlyOneWinner) {
    static std::atomic<int> routineRuns;
    for (int round = 0; round < 2000; ++round) {
        routineRuns = 0;
        IRP* irp = IoAllocateIrp(1, false);
        IoSetCancelRoutine(irp, [](DEVICE_OBJECT*, IRP*) { ++routineRuns; });
        std::atomic<bool> go{false};
        bool takenBack = false;
        std::thread completer([&] {
            while (!go.load()) {
            }
            takenBack = IoSetCancelRoutine(irp, nullptr) != nullptr;
        });
        go.store(true);
        bool cancelled = IoCancelIrp(irp);
        completer.join();
        ASSERT_NE(takenBack, cancelled);
        ASSERT_EQ(routineRuns.load(), cancelled ? 1 : 0);
        IoFreeIrp(irp);
    }
}

TEST_F(IrpTest, PartialDescriptorDescribesPartOfTheSourceWithoutCopying) {
    std::vector<uint8_t> buffer(1000);
    MDL* whole = IoAllocateMdl(buffer.data(), 1000, false, false, nullptr);
    MmBuildMdlForNonPagedPool(whole);
    struct Case {
        uint32_t offset, length;
        uint32_t expectedLength;
    };
    const Case cases[] = {{0, 1000, 1000}, {0, 1, 1},     {400, 600, 600},
                          {999, 1, 1},     {200, 0, 800}, {1000, 0, 0}};
    for (const Case& c : cases) {
        MDL* part = IoAllocateMdl(buffer.data(), 1000, false, false, nullptr);
        IoBuildPartialMdl(whole, part, buffer.data() + c.offset, c.length);
        EXPECT_EQ(MmGetSystemAddressForMdlSafe(part), buffer.data() + c.offset);
        EXPECT_EQ(part->ByteCount, c.expectedLength);
        IoFreeMdl(part);
    }
    IoFreeMdl(whole);
}

TEST_F(IrpTest, DescriptorAttachedToItsRequest) {
    uint8_t buffer[16];
    IRP* irp = IoAllocateIrp(2, false);
    MDL* first = IoAllocateMdl(buffer, 16, false, false, irp);
    MDL* second = IoAllocateMdl(buffer, 8, true, false, irp);
    EXPECT_EQ(irp->MdlAddress, first);
    EXPECT_EQ(first->Next, second);
    IoFreeMdl(first);
    IoFreeMdl(second);
    IoFreeIrp(irp);
}

using IrpDeathTest = IrpTest;

TEST_F(IrpDeathTest, PartialDescriptorOutsideItsSourceStops) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::vector<uint8_t> buffer(100);
    MDL* whole = IoAllocateMdl(buffer.data(), 100, false, false, nullptr);
    MDL* small = IoAllocateMdl(buffer.data(), 10, false, false, nullptr);
    EXPECT_DEATH(IoBuildPartialMdl(whole, small, buffer.data(), 50), "larger than its target");
    EXPECT_DEATH(IoBuildPartialMdl(whole, whole, buffer.data() + 90, 20), "past its source");
    EXPECT_DEATH(IoBuildPartialMdl(small, whole, buffer.data() + 50, 1), "outside its source");
    IoFreeMdl(whole);
    IoFreeMdl(small);
}

}  // namespace
}  // namespace bayercam
