#include "platform/ks/ks_device.h"

#include <cstring>
#include <mutex>

#include "platform/kernel/pool.h"
#include "platform/ks/ks_object_bag.h"

namespace bayercam {

struct KSDEVICE_IMPL {
    // The device mutex of KsAcquireDevice; recursive as the class driver's is.
    std::recursive_mutex deviceMutex;
    // Guards the factory list, which filter creation reads from other threads.
    std::mutex factoryLock;
    KSFILTERFACTORY* factories = nullptr;  // oldest first
    DEVICE_OBJECT functionalDevice{};
    bool startOutstanding = false;  // a Start was called and no Stop since
    // Open filters keep the device: a removal while any is open completes when the last closes,
    // as the remove request only comes once every handle is closed.
    std::mutex handleLock;
    int openFilters = 0;
    bool removePending = false;
};

namespace {

void FreeFactories(KSDEVICE* device, bool onlyFreeOnStop) {
    KSDEVICE_IMPL* impl = device->Impl;
    std::lock_guard<std::mutex> guard(impl->factoryLock);
    KSFILTERFACTORY** link = &impl->factories;
    while (*link) {
        KSFILTERFACTORY* factory = *link;
        if (!onlyFreeOnStop || (factory->CreateItemFlags & KSCREATE_ITEM_FREEONSTOP)) {
            *link = factory->Next;
            PoolDelete(factory);
        } else {
            link = &factory->Next;
        }
    }
}

void FreeDevice(KSDEVICE* device) {
    FreeFactories(device, false);
    KsFreeObjectBag(device->Bag);
    PoolDelete(device->Impl);
    PoolDelete(device);
}

}  // namespace

void KsAcquireDevice(KSDEVICE* device) {
    device->Impl->deviceMutex.lock();
}

void KsReleaseDevice(KSDEVICE* device) {
    device->Impl->deviceMutex.unlock();
}

KSDEVICE* KsGetDeviceForDeviceObject(DEVICE_OBJECT* deviceObject) {
    return deviceObject ? static_cast<KSDEVICE*>(deviceObject->DeviceExtension) : nullptr;
}

NTSTATUS KsInitializeDriver(DRIVER_OBJECT* driverObject, const char*,
                            const KSDEVICE_DESCRIPTOR* descriptor) {
    if (!driverObject || !descriptor || !descriptor->Dispatch) return STATUS_INVALID_PARAMETER;
    driverObject->KsDeviceDescriptor = descriptor;
    return STATUS_SUCCESS;
}

NTSTATUS KsCreateFilterFactory(DEVICE_OBJECT* deviceObject, const KSFILTER_DESCRIPTOR* descriptor,
                               const char* refString, void*, uint32_t createItemFlags, void*, void*,
                               KSFILTERFACTORY** filterFactory) {
    if (filterFactory) *filterFactory = nullptr;
    KSDEVICE* device = KsGetDeviceForDeviceObject(deviceObject);
    if (!device || !descriptor) return STATUS_INVALID_PARAMETER;
    if (refString && std::strlen(refString) > kMaxRefStringLength) return STATUS_INVALID_PARAMETER;
    auto* factory = PoolNew<KSFILTERFACTORY>();
    if (!factory) return STATUS_INSUFFICIENT_RESOURCES;
    factory->FilterDescriptor = descriptor;
    factory->Device = device;
    factory->CreateItemFlags = createItemFlags;
    if (refString) std::strcpy(factory->RefString, refString);
    std::lock_guard<std::mutex> guard(device->Impl->factoryLock);
    KSFILTERFACTORY** link = &device->Impl->factories;
    while (*link) link = &(*link)->Next;
    *link = factory;
    if (filterFactory) *filterFactory = factory;
    return STATUS_SUCCESS;
}

KSFILTERFACTORY* KsDeviceGetFirstChildFilterFactory(KSDEVICE* device) {
    std::lock_guard<std::mutex> guard(device->Impl->factoryLock);
    return device->Impl->factories;
}

KSFILTERFACTORY* KsFilterFactoryGetNextSiblingFilterFactory(KSFILTERFACTORY* factory) {
    std::lock_guard<std::mutex> guard(factory->Device->Impl->factoryLock);
    return factory->Next;
}

NTSTATUS KsPnpAddDevice(DRIVER_OBJECT* driver, DEVICE_OBJECT* physicalDevice, KSDEVICE** out) {
    *out = nullptr;
    if (!driver || !driver->KsDeviceDescriptor || !physicalDevice) return STATUS_INVALID_PARAMETER;
    if (physicalDevice->StackSize >= kMaxIrpStackSize) return STATUS_INVALID_DEVICE_REQUEST;
    auto* device = PoolNew<KSDEVICE>();
    if (!device) return STATUS_INSUFFICIENT_RESOURCES;
    device->Impl = PoolNew<KSDEVICE_IMPL>();
    device->Bag = device->Impl ? KsCreateObjectBag() : nullptr;
    if (!device->Bag) {
        PoolDelete(device->Impl);
        PoolDelete(device);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    DEVICE_OBJECT* functional = &device->Impl->functionalDevice;
    functional->StackSize = static_cast<int8_t>(physicalDevice->StackSize + 1);
    functional->DeviceExtension = device;
    device->Descriptor = driver->KsDeviceDescriptor;
    device->FunctionalDeviceObject = functional;
    device->PhysicalDeviceObject = physicalDevice;
    device->NextDeviceObject = physicalDevice;

    NTSTATUS status = STATUS_SUCCESS;
    if (device->Descriptor->Dispatch->Add) status = device->Descriptor->Dispatch->Add(device);
    if (!NT_SUCCESS(status)) {
        FreeDevice(device);
        return status;
    }
    *out = device;
    return STATUS_SUCCESS;
}

NTSTATUS KsPnpStartDevice(KSDEVICE* device) {
    // The start request has already been passed down the stack and completed by the bus.
    IRP* irp = IoAllocateIrp(device->FunctionalDeviceObject->StackSize, false);
    if (!irp) return STATUS_INSUFFICIENT_RESOURCES;
    device->Impl->startOutstanding = true;
    NTSTATUS status = STATUS_SUCCESS;
    if (device->Descriptor->Dispatch->Start) {
        status = device->Descriptor->Dispatch->Start(device, irp, nullptr, nullptr);
    }
    IoFreeIrp(irp);
    if (NT_SUCCESS(status)) device->Started = true;
    return status;
}

void KsPnpStopDevice(KSDEVICE* device) {
    if (!device->Impl->startOutstanding) return;
    if (device->Descriptor->Dispatch->Stop) device->Descriptor->Dispatch->Stop(device, nullptr);
    FreeFactories(device, true);
    device->Started = false;
    device->Impl->startOutstanding = false;
}

// A KSDEVICE made without KsPnpAddDevice (a bare record in a test) has no handle count.
bool KsDeviceOpenFilter(KSDEVICE* device) {
    if (!device->Impl) return true;
    std::lock_guard<std::mutex> guard(device->Impl->handleLock);
    if (device->Impl->removePending) return false;
    ++device->Impl->openFilters;
    return true;
}

void KsDeviceCloseFilter(KSDEVICE* device) {
    if (!device->Impl) return;
    {
        std::lock_guard<std::mutex> guard(device->Impl->handleLock);
        if (--device->Impl->openFilters > 0 || !device->Impl->removePending) return;
    }
    KsPnpStopDevice(device);
    FreeDevice(device);
}

void KsPnpRemoveDevice(KSDEVICE* device) {
    if (!device) return;
    {
        std::lock_guard<std::mutex> guard(device->Impl->handleLock);
        device->Impl->removePending = true;
        if (device->Impl->openFilters > 0) return;
    }
    // A start that failed still leaves what it set up; the stop releases it before the bag goes.
    KsPnpStopDevice(device);
    FreeDevice(device);
}

}  // namespace bayercam
