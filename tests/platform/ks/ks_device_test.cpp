#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/kernel/pool.h"
#include "platform/ks/ks_device.h"
#include "platform/ks/ks_object_bag.h"

namespace bayercam {
namespace {

// A minidriver that logs the class driver's calls and does what the test asks in them.
struct Minidriver {
    static inline std::vector<std::string> calls;
    static inline NTSTATUS addStatus = STATUS_SUCCESS;
    static inline NTSTATUS startStatus = STATUS_SUCCESS;
    static inline std::vector<uint32_t> factoryFlags;  // factories each start creates
    static inline std::vector<std::string> freed;

    static NTSTATUS Add(KSDEVICE* device) {
        calls.push_back("add");
        KsAddItemToObjectBag(device->Bag, new std::string("first"), &Free);
        KsAddItemToObjectBag(device->Bag, new std::string("second"), &Free);
        return addStatus;
    }
    static NTSTATUS Start(KSDEVICE* device, IRP* irp, void*, void*) {
        calls.push_back(std::string("start") + (device->Started ? " started" : "") +
                        (irp ? "" : " no-irp"));
        for (uint32_t flags : factoryFlags) {
            KsCreateFilterFactory(device->FunctionalDeviceObject, &kDescriptor, "GLOBAL", nullptr,
                                  flags, nullptr, nullptr, nullptr);
        }
        return startStatus;
    }
    static void Stop(KSDEVICE*, IRP*) { calls.push_back("stop"); }
    static void Free(void* item) {
        auto* text = static_cast<std::string*>(item);
        freed.push_back(*text);
        delete text;
    }

    static inline const KSFILTER_DESCRIPTOR kDescriptor{};
    static KSDEVICE_DISPATCH Dispatch() {
        KSDEVICE_DISPATCH dispatch{};
        dispatch.Add = &Add;
        dispatch.Start = &Start;
        dispatch.Stop = &Stop;
        return dispatch;
    }
    static inline const KSDEVICE_DISPATCH kDispatch = Dispatch();
    static inline const KSDEVICE_DESCRIPTOR kDeviceDescriptor = {&kDispatch, 0, nullptr};
};

class KsDeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Minidriver::calls.clear();
        Minidriver::freed.clear();
        Minidriver::addStatus = STATUS_SUCCESS;
        Minidriver::startStatus = STATUS_SUCCESS;
        Minidriver::factoryFlags = {KSCREATE_ITEM_FREEONSTOP};
        live_ = pool::LiveAllocations();
        ASSERT_EQ(KsInitializeDriver(&driver_, "test", &Minidriver::kDeviceDescriptor),
                  STATUS_SUCCESS);
        physical_.StackSize = 1;
    }
    void TearDown() override {
        pool::Reset();
        EXPECT_EQ(pool::LiveAllocations(), live_);
    }

    int Factories(KSDEVICE* device) {
        int count = 0;
        for (KSFILTERFACTORY* f = KsDeviceGetFirstChildFilterFactory(device); f;
             f = KsFilterFactoryGetNextSiblingFilterFactory(f)) {
            ++count;
        }
        return count;
    }

    DRIVER_OBJECT driver_{};
    DEVICE_OBJECT physical_{};
    int64_t live_ = 0;
};

TEST_F(KsDeviceTest, AddSetsUpTheDeviceOverItsLowerDevice) {
    KSDEVICE* device;
    ASSERT_EQ(KsPnpAddDevice(&driver_, &physical_, &device), STATUS_SUCCESS);
    EXPECT_EQ(device->PhysicalDeviceObject, &physical_);
    EXPECT_EQ(device->NextDeviceObject, &physical_);
    EXPECT_EQ(device->FunctionalDeviceObject->StackSize, 2);
    EXPECT_EQ(KsGetDeviceForDeviceObject(device->FunctionalDeviceObject), device);
    EXPECT_FALSE(device->Started);
    KsPnpRemoveDevice(device);
    EXPECT_EQ(Minidriver::calls, (std::vector<std::string>{"add"}));
    EXPECT_EQ(Minidriver::freed, (std::vector<std::string>{"second", "first"}));
}

TEST_F(KsDeviceTest, LifecycleCallsAndStartedMark) {
    struct Case {
        const char* name;
        NTSTATUS startStatus;
        std::vector<std::string> steps;  // start, stop, remove
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"start stop remove",
         STATUS_SUCCESS,
         {"start", "stop", "remove"},
         {"add", "start", "stop"}},
        {"remove stops a started device",
         STATUS_SUCCESS,
         {"start", "remove"},
         {"add", "start", "stop"}},
        {"failed start is still stopped at removal",
         STATUS_UNSUCCESSFUL,
         {"start", "remove"},
         {"add", "start", "stop"}},
        {"stop without start does nothing", STATUS_SUCCESS, {"stop", "remove"}, {"add"}},
        {"second start sees the started mark",
         STATUS_SUCCESS,
         {"start", "start", "remove"},
         {"add", "start", "start started", "stop"}},
        {"restart after stop",
         STATUS_SUCCESS,
         {"start", "stop", "start", "remove"},
         {"add", "start", "stop", "start", "stop"}},
    };
    for (const Case& c : cases) {
        Minidriver::calls.clear();
        Minidriver::startStatus = c.startStatus;
        KSDEVICE* device;
        ASSERT_EQ(KsPnpAddDevice(&driver_, &physical_, &device), STATUS_SUCCESS);
        for (const std::string& step : c.steps) {
            if (step == "start") {
                EXPECT_EQ(KsPnpStartDevice(device), c.startStatus) << c.name;
                EXPECT_EQ(device->Started, NT_SUCCESS(c.startStatus)) << c.name;
            } else if (step == "stop") {
                KsPnpStopDevice(device);
                EXPECT_FALSE(device->Started) << c.name;
            } else {
                KsPnpRemoveDevice(device);
            }
        }
        EXPECT_EQ(Minidriver::calls, c.calls) << c.name;
    }
}

TEST_F(KsDeviceTest, FactoriesCreatedFreeOnStopGoAtStopOthersAtRemoval) {
    Minidriver::factoryFlags = {KSCREATE_ITEM_FREEONSTOP, 0, KSCREATE_ITEM_FREEONSTOP};
    KSDEVICE* device;
    ASSERT_EQ(KsPnpAddDevice(&driver_, &physical_, &device), STATUS_SUCCESS);
    KsPnpStartDevice(device);
    ASSERT_EQ(Factories(device), 3);
    KSFILTERFACTORY* first = KsDeviceGetFirstChildFilterFactory(device);
    EXPECT_STREQ(first->RefString, "GLOBAL");
    EXPECT_EQ(first->FilterDescriptor, &Minidriver::kDescriptor);
    EXPECT_EQ(first->Device, device);
    KsPnpStopDevice(device);
    ASSERT_EQ(Factories(device), 1);
    EXPECT_EQ(KsDeviceGetFirstChildFilterFactory(device)->CreateItemFlags, 0u);
    KsPnpRemoveDevice(device);
}

TEST_F(KsDeviceTest, FactoryCreationRefusesBadRequests) {
    KSDEVICE* device;
    ASSERT_EQ(KsPnpAddDevice(&driver_, &physical_, &device), STATUS_SUCCESS);
    KSFILTERFACTORY* factory = reinterpret_cast<KSFILTERFACTORY*>(1);
    std::string longName(kMaxRefStringLength + 1, 'x');
    EXPECT_EQ(KsCreateFilterFactory(device->FunctionalDeviceObject, &Minidriver::kDescriptor,
                                    longName.c_str(), nullptr, 0, nullptr, nullptr, &factory),
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(factory, nullptr);
    EXPECT_EQ(KsCreateFilterFactory(&physical_, &Minidriver::kDescriptor, "GLOBAL", nullptr, 0,
                                    nullptr, nullptr, nullptr),
              STATUS_INVALID_PARAMETER);
    pool::FailNth(1);
    EXPECT_EQ(KsCreateFilterFactory(device->FunctionalDeviceObject, &Minidriver::kDescriptor,
                                    "GLOBAL", nullptr, 0, nullptr, nullptr, nullptr),
              STATUS_INSUFFICIENT_RESOURCES);
    EXPECT_EQ(Factories(device), 0);
    KsPnpRemoveDevice(device);
}

TEST_F(KsDeviceTest, FailedAddLeavesNothingBehind) {
    Minidriver::addStatus = STATUS_UNSUCCESSFUL;
    KSDEVICE* device = reinterpret_cast<KSDEVICE*>(1);
    EXPECT_EQ(KsPnpAddDevice(&driver_, &physical_, &device), STATUS_UNSUCCESSFUL);
    EXPECT_EQ(device, nullptr);
    EXPECT_EQ(Minidriver::freed.size(), 2u);  // the bag was emptied

    Minidriver::addStatus = STATUS_SUCCESS;
    for (uint64_t n = 1; n <= 3; ++n) {
        pool::FailNth(n);
        EXPECT_EQ(KsPnpAddDevice(&driver_, &physical_, &device), STATUS_INSUFFICIENT_RESOURCES);
        EXPECT_EQ(device, nullptr);
    }
}

TEST_F(KsDeviceTest, DeviceMutexExcludesOtherThreadsAndNests) {
    KSDEVICE* device;
    ASSERT_EQ(KsPnpAddDevice(&driver_, &physical_, &device), STATUS_SUCCESS);
    KsAcquireDevice(device);
    KsAcquireDevice(device);
    std::atomic<bool> acquired{false};
    std::thread other([&] {
        KsAcquireDevice(device);
        acquired = true;
        KsReleaseDevice(device);
    });
    KsReleaseDevice(device);
    EXPECT_FALSE(acquired.load());
    KsReleaseDevice(device);
    other.join();
    EXPECT_TRUE(acquired.load());
    KsPnpRemoveDevice(device);
}

}  // namespace
}  // namespace bayercam
