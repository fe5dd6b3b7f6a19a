// The streaming class driver stand-in: device, filter and pin objects, their descriptors and
// object bags, as the minidriver sees them.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/kernel/irp.h"
#include "platform/kernel/ntstatus.h"
#include "platform/ks/ks_types.h"

namespace bayercam {

struct KSDEVICE;
struct KSFILTER;
struct KSPIN;
struct KSFILTERFACTORY;
struct KSOBJECT_BAG_IMPL;

// Owns records on behalf of an object; each item's free callback runs when the bag is emptied.
using PFNKSFREE = void (*)(void* data);
using KSOBJECT_BAG = KSOBJECT_BAG_IMPL*;

NTSTATUS KsAddItemToObjectBag(KSOBJECT_BAG bag, void* item, PFNKSFREE free);

// ---- Device ----
using PFNKSDEVICECREATE = NTSTATUS (*)(KSDEVICE* device);
using PFNKSDEVICEPNPSTART = NTSTATUS (*)(KSDEVICE* device, IRP* irp, void* translatedResources,
                                         void* untranslatedResources);
using PFNKSDEVICE = void (*)(KSDEVICE* device, IRP* irp);

struct KSDEVICE_DISPATCH {
    PFNKSDEVICECREATE Add;
    PFNKSDEVICEPNPSTART Start;
    void* PostStart;
    void* QueryStop;
    void* CancelStop;
    PFNKSDEVICE Stop;
    void* QueryRemove;
    void* CancelRemove;
    void* Remove;
    void* QueryCapabilities;
    void* SurpriseRemoval;
    void* QueryPower;
    void* SetPower;
    void* QueryInterface;
};

struct KSFILTER_DESCRIPTOR;

struct KSDEVICE_DESCRIPTOR {
    const KSDEVICE_DISPATCH* Dispatch;
    uint32_t FilterDescriptorsCount;
    const KSFILTER_DESCRIPTOR* const* FilterDescriptors;
};

struct KSDEVICE_IMPL;  // the class driver's own state of the device (mutex, factories)

struct KSDEVICE {
    const KSDEVICE_DESCRIPTOR* Descriptor;
    KSOBJECT_BAG Bag;
    void* Context;
    DEVICE_OBJECT* FunctionalDeviceObject;
    DEVICE_OBJECT* PhysicalDeviceObject;
    DEVICE_OBJECT* NextDeviceObject;
    bool Started;
    KSDEVICE_IMPL* Impl;
};

void KsAcquireDevice(KSDEVICE* device);
void KsReleaseDevice(KSDEVICE* device);

constexpr uint32_t KSCREATE_ITEM_FREEONSTOP = 0x00000008;

// Registers a filter factory on the device whose functional device object is given.
NTSTATUS KsCreateFilterFactory(DEVICE_OBJECT* deviceObject, const KSFILTER_DESCRIPTOR* descriptor,
                               const char* refString, void* securityDescriptor,
                               uint32_t createItemFlags, void* sleepCallback, void* wakeCallback,
                               KSFILTERFACTORY** filterFactory);

struct DRIVER_OBJECT {
    const KSDEVICE_DESCRIPTOR* KsDeviceDescriptor;  // set by KsInitializeDriver
};
NTSTATUS KsInitializeDriver(DRIVER_OBJECT* driverObject, const char* registryPath,
                            const KSDEVICE_DESCRIPTOR* descriptor);

// ---- Filter and pin descriptors ----
using PFNKSFILTERIRP = NTSTATUS (*)(KSFILTER* filter, IRP* irp);
using PFNKSPINIRP = NTSTATUS (*)(KSPIN* pin, IRP* irp);
using PFNKSPIN = NTSTATUS (*)(KSPIN* pin);
using PFNKSPINSETDATAFORMAT = NTSTATUS (*)(KSPIN* pin, KSDATAFORMAT* oldFormat,
                                           void* oldAttributeList, const KSDATARANGE* dataRange,
                                           void* attributeRange);
using PFNKSPINSETDEVICESTATE = NTSTATUS (*)(KSPIN* pin, KSSTATE toState, KSSTATE fromState);
using PFNKSINTERSECTHANDLEREX = NTSTATUS (*)(void* context, IRP* irp, void* pin,
                                             const KSDATARANGE* callerDataRange,
                                             const KSDATARANGE* descriptorDataRange,
                                             uint32_t dataBufferSize, void* data,
                                             uint32_t* dataSize);
using PFNKSHANDLER = NTSTATUS (*)(IRP* irp, void* property, void* data);

struct KSFILTER_DISPATCH {
    PFNKSFILTERIRP Create;
    PFNKSFILTERIRP Close;
    void* Process;
    void* Reset;
};

struct KSPIN_DISPATCH {
    PFNKSPINIRP Create;
    PFNKSPINIRP Close;
    PFNKSPIN Process;
    void* Reset;
    PFNKSPINSETDATAFORMAT SetDataFormat;
    PFNKSPINSETDEVICESTATE SetDeviceState;
    void* Connect;
    void* Disconnect;
    void* Clock;
    void* Allocator;
};

struct KSPROPERTY_ITEM {
    uint32_t PropertyId;
    PFNKSHANDLER GetPropertyHandler;  // null: the property cannot be read
    uint32_t MinProperty;
    uint32_t MinData;
    PFNKSHANDLER SetPropertyHandler;  // null: the property cannot be written
    const void* Values;
    uint32_t RelationsCount;
    const void* Relations;
    void* SupportHandler;
    uint32_t SerializedSize;
};

struct KSPROPERTY_SET {
    const GUID* Set;
    uint32_t PropertiesCount;
    const KSPROPERTY_ITEM* PropertyItem;
    uint32_t FastIoCount;
    const void* FastIoTable;
};

struct KSAUTOMATION_TABLE {
    uint32_t PropertySetsCount;
    uint32_t PropertyItemSize;
    const KSPROPERTY_SET* PropertySets;
    uint32_t MethodSetsCount;
    uint32_t MethodItemSize;
    const void* MethodSets;
    uint32_t EventSetsCount;
    uint32_t EventItemSize;
    const void* EventSets;
};

struct KS_FRAMING_RANGE {
    uint32_t MinFrameSize;
    uint32_t MaxFrameSize;
    uint32_t Stepping;
};
struct KS_FRAMING_RANGE_WEIGHTED {
    KS_FRAMING_RANGE Range;
    uint32_t InPlaceWeight;
    uint32_t NotInPlaceWeight;
};
struct KS_COMPRESSION {
    uint32_t RatioNumerator;
    uint32_t RatioDenominator;
    uint32_t RatioConstantMargin;
};
struct KS_FRAMING_ITEM {
    GUID MemoryType;
    GUID BusType;
    uint32_t MemoryFlags;
    uint32_t BusFlags;
    uint32_t Flags;
    uint32_t Frames;
    uint32_t FileAlignment;
    uint32_t MemoryTypeWeight;
    KS_FRAMING_RANGE PhysicalRange;
    KS_FRAMING_RANGE_WEIGHTED FramingRange;
};
struct KSALLOCATOR_FRAMING_EX {
    uint32_t CountItems;
    uint32_t PinFlags;
    KS_COMPRESSION OutputCompression;
    uint32_t PinWeight;
    KS_FRAMING_ITEM FramingItem[1];
};
constexpr uint32_t KSALLOCATOR_REQUIREMENTF_SYSTEM_MEMORY = 0x00000002;
constexpr uint32_t KSALLOCATOR_REQUIREMENTF_PREFERENCES_ONLY = 0x80000000;

enum KSPIN_DATAFLOW : int32_t { KSPIN_DATAFLOW_IN = 1, KSPIN_DATAFLOW_OUT = 2 };
enum KSPIN_COMMUNICATION : int32_t { KSPIN_COMMUNICATION_NONE = 0, KSPIN_COMMUNICATION_BOTH = 3 };

struct KSPIN_DESCRIPTOR {
    uint32_t InterfacesCount;
    const void* Interfaces;
    uint32_t MediumsCount;
    const void* Mediums;
    uint32_t DataRangesCount;
    const KSDATARANGE* const* DataRanges;
    KSPIN_DATAFLOW DataFlow;
    KSPIN_COMMUNICATION Communication;
    const GUID* Category;
    const GUID* Name;
    uint32_t ConstrainedDataRangesCount;
    const void* ConstrainedDataRanges;
};

constexpr uint32_t KSPIN_FLAG_DO_NOT_INITIATE_PROCESSING = 0x00000010;
constexpr uint32_t KSPIN_FLAG_FRAMES_NOT_REQUIRED_FOR_PROCESSING = 0x00000040;
constexpr uint32_t KSPIN_FLAG_PROCESS_IN_RUN_STATE_ONLY = 0x00010000;

struct KSPIN_DESCRIPTOR_EX {
    const KSPIN_DISPATCH* Dispatch;
    const KSAUTOMATION_TABLE* AutomationTable;
    KSPIN_DESCRIPTOR PinDescriptor;
    uint32_t Flags;
    uint32_t InstancesPossible;
    uint32_t InstancesNecessary;
    const KSALLOCATOR_FRAMING_EX* AllocatorFraming;
    PFNKSINTERSECTHANDLEREX IntersectHandler;
};

constexpr uint32_t KSFILTER_DESCRIPTOR_VERSION = 0xFFFFFFFF;

struct KSFILTER_DESCRIPTOR {
    const KSFILTER_DISPATCH* Dispatch;
    const KSAUTOMATION_TABLE* AutomationTable;
    uint32_t Version;
    uint32_t Flags;
    const GUID* ReferenceGuid;
    uint32_t PinDescriptorsCount;
    uint32_t PinDescriptorSize;
    const KSPIN_DESCRIPTOR_EX* PinDescriptors;
    uint32_t CategoriesCount;
    const GUID* Categories;
    uint32_t NodeDescriptorsCount;
    uint32_t NodeDescriptorSize;
    const void* NodeDescriptors;
    uint32_t ConnectionsCount;
    const void* Connections;
    const void* ComponentId;
};

}  // namespace bayercam
