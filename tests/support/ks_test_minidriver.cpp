#include "support/ks_test_minidriver.h"

#include <cstring>

#include "platform/kernel/pool.h"
#include "platform/ks/ks_edit.h"
#include "platform/ks/ks_filter.h"
#include "platform/ks/ks_object_bag.h"
#include "platform/ks/ks_pin.h"
#include "platform/ks/ks_stream_pointer.h"

namespace bayercam::test {
namespace {

TestMiniDriver* current = nullptr;

void FreeContext(void* context) {
    ExFreePool(context);
}

// Gives the object a pool context owned by its bag, as a minidriver does.
NTSTATUS AddContext(KSOBJECT_BAG bag, void** context) {
    void* record = ExAllocatePoolZero(16);
    if (!record) return STATUS_INSUFFICIENT_RESOURCES;
    NTSTATUS status = KsAddItemToObjectBag(bag, record, FreeContext);
    if (!NT_SUCCESS(status)) {
        ExFreePool(record);
        return status;
    }
    *context = record;
    return STATUS_SUCCESS;
}

void CheckIrp(IRP* irp, KSFILTER* filter) {
    if (KsGetFilterFromIrp(irp) != filter) Driver().irpLedToFilter = false;
}

NTSTATUS FilterCreate(KSFILTER* filter, IRP* irp) {
    TestMiniDriver& driver = Driver();
    driver.calls.push_back("filter create");
    CheckIrp(irp, filter);
    if (KsGetDevice(filter) != &driver.device) driver.objectsLedToDevice = false;
    driver.createdFilter = filter;
    NTSTATUS status = AddContext(filter->Bag, &filter->Context);
    return NT_SUCCESS(status) ? driver.filterCreateStatus : status;
}

NTSTATUS FilterClose(KSFILTER* filter, IRP* irp) {
    Driver().calls.push_back("filter close");
    CheckIrp(irp, filter);
    return STATUS_SUCCESS;
}

NTSTATUS PinCreate(KSPIN* pin, IRP* irp) {
    TestMiniDriver& driver = Driver();
    driver.calls.push_back("pin create");
    CheckIrp(irp, KsPinGetParentFilter(pin));
    if (KsGetDevice(pin) != &driver.device) driver.objectsLedToDevice = false;
    NTSTATUS status = AddContext(pin->Bag, &pin->Context);
    if (!NT_SUCCESS(status)) return status;
    status = KsEdit(pin, &pin->Descriptor);
    if (!NT_SUCCESS(status)) return status;
    KSALLOCATOR_FRAMING_EX* framing = nullptr;
    status = KsEdit(pin, &pin->Descriptor->AllocatorFraming, &framing);
    if (!NT_SUCCESS(status)) return status;
    // Client frames must hold one image of the connection format.
    uint32_t bytes = pin->ConnectionFormat->SampleSize;
    framing->FramingItem[0].FramingRange.Range = {bytes, bytes, 0};
    return driver.pinCreateStatus;
}

NTSTATUS PinClose(KSPIN* pin, IRP* irp) {
    Driver().calls.push_back("pin close");
    CheckIrp(irp, KsPinGetParentFilter(pin));
    return STATUS_SUCCESS;
}

NTSTATUS PinSetDataFormat(KSPIN* pin, KSDATAFORMAT* oldFormat, void*, const KSDATARANGE* range,
                          void*) {
    TestMiniDriver& driver = Driver();
    driver.calls.push_back(oldFormat ? "pin format change" : "pin format");
    driver.setFormatRange = range;
    if (pin->ConnectionFormat->FormatSize < sizeof(KS_DATAFORMAT_VIDEOINFOHEADER))
        return STATUS_NO_MATCH;
    return driver.setFormatStatus;
}

NTSTATUS PinSetDeviceState(KSPIN*, KSSTATE to, KSSTATE from) {
    TestMiniDriver& driver = Driver();
    driver.stateCalls.push_back({to, from});
    if (driver.failingStep == StateCall{to, from}) return driver.failingStepStatus;
    driver.driverState = to;
    return STATUS_SUCCESS;
}

NTSTATUS CompleteLeadingFrame(KSPIN* pin) {
    int pass = ++Driver().passes;
    KSSTREAM_POINTER* pointer =
        KsPinGetLeadingEdgeStreamPointer(pin, KSSTREAM_POINTER_STATE_LOCKED);
    if (!pointer) return STATUS_PENDING;
    std::memset(pointer->OffsetOut.Data, pass, pointer->OffsetOut.Count);
    pointer->StreamHeader->DataUsed = pointer->OffsetOut.Count;
    KsStreamPointerUnlock(pointer, true);
    return STATUS_PENDING;
}

NTSTATUS PinProcess(KSPIN* pin) {
    TestMiniDriver& driver = Driver();
    return driver.process ? driver.process(pin) : CompleteLeadingFrame(pin);
}

NTSTATUS PinIntersect(void* context, IRP* irp, void*, const KSDATARANGE* callerRange,
                      const KSDATARANGE* descriptorRange, uint32_t bufferSize, void* data,
                      uint32_t* dataSize) {
    TestMiniDriver& driver = Driver();
    driver.intersectRanges.push_back(descriptorRange);
    CheckIrp(irp, static_cast<KSFILTER*>(context));
    if (callerRange->FormatSize < sizeof(KS_DATARANGE_VIDEO)) return STATUS_NO_MATCH;
    *dataSize = sizeof(KS_DATAFORMAT_VIDEOINFOHEADER);
    if (bufferSize == 0) return STATUS_BUFFER_OVERFLOW;
    if (bufferSize < *dataSize) return STATUS_BUFFER_TOO_SMALL;
    KS_DATAFORMAT_VIDEOINFOHEADER format = TestMiniDriver::Format();
    std::memcpy(data, &format, std::min<size_t>(sizeof format, *dataSize));
    return STATUS_SUCCESS;
}

NTSTATUS GetValue(IRP* irp, void*, void* data) {
    TestMiniDriver& driver = Driver();
    driver.handlerCalls++;
    CheckIrp(irp, driver.createdFilter);
    std::memcpy(data, &driver.propertyValue, sizeof driver.propertyValue);
    irp->IoStatus.Information = sizeof driver.propertyValue;
    return STATUS_SUCCESS;
}

NTSTATUS SetValue(IRP* irp, void*, void* data) {
    TestMiniDriver& driver = Driver();
    driver.handlerCalls++;
    CheckIrp(irp, driver.createdFilter);
    std::memcpy(&driver.propertyValue, data, sizeof driver.propertyValue);
    return STATUS_SUCCESS;
}

// A get that leaves Information as the class driver set it.
NTSTATUS GetPlain(IRP*, void*, void*) {
    Driver().handlerCalls++;
    return STATUS_SUCCESS;
}

KSPROPERTY_ITEM Item(uint32_t id, PFNKSHANDLER get, uint32_t minProperty, uint32_t minData,
                     PFNKSHANDLER set) {
    KSPROPERTY_ITEM item{};
    item.PropertyId = id;
    item.GetPropertyHandler = get;
    item.MinProperty = minProperty;
    item.MinData = minData;
    item.SetPropertyHandler = set;
    return item;
}

KS_DATARANGE_VIDEO VideoRange(const GUID& subFormat) {
    KS_DATARANGE_VIDEO range{};
    range.DataRange = {sizeof range,
                       0,
                       kTestImageBytes,
                       0,
                       KSDATAFORMAT_TYPE_VIDEO,
                       subFormat,
                       KSDATAFORMAT_SPECIFIER_VIDEOINFO};
    range.bFixedSizeSamples = 1;
    range.VideoInfoHeader.AvgTimePerFrame = 333333;
    range.VideoInfoHeader.bmiHeader = {
        40, kTestWidth, kTestHeight, 1, 32, KS_BI_RGB, kTestImageBytes, 0, 0, 0, 0};
    return range;
}

}  // namespace

TestMiniDriver& Driver() {
    return *current;
}

TestMiniDriver::TestMiniDriver(uint32_t pinFlags) {
    otherRange = VideoRange(kOtherSubFormat);
    videoRange = VideoRange(MEDIASUBTYPE_RGB32);
    ranges[0] = &otherRange.DataRange;
    ranges[1] = &videoRange.DataRange;

    framing.CountItems = 1;
    framing.OutputCompression = {1, 1, 0};
    framing.FramingItem[0].MemoryType = KSMEMORY_TYPE_KERNEL_NONPAGED;
    framing.FramingItem[0].Frames = 2;
    framing.FramingItem[0].FramingRange.Range = {0x2000, 0x2000, 1};

    pinDispatch = {PinCreate,         PinClose, PinProcess, nullptr, PinSetDataFormat,
                   PinSetDeviceState, nullptr,  nullptr,    nullptr, nullptr};
    filterDispatch = {FilterCreate, FilterClose, nullptr, nullptr};

    pinDescriptor.Dispatch = &pinDispatch;
    pinDescriptor.PinDescriptor.DataRangesCount = 2;
    pinDescriptor.PinDescriptor.DataRanges = ranges;
    pinDescriptor.PinDescriptor.DataFlow = KSPIN_DATAFLOW_OUT;
    pinDescriptor.PinDescriptor.Communication = KSPIN_COMMUNICATION_BOTH;
    pinDescriptor.Flags = pinFlags;
    pinDescriptor.InstancesPossible = 1;
    pinDescriptor.InstancesNecessary = 1;
    pinDescriptor.AllocatorFraming = &framing;
    pinDescriptor.IntersectHandler = PinIntersect;

    items[0] = Item(kPropReadWrite, GetValue, sizeof(KSPROPERTY), 4, SetValue);
    items[1] = Item(kPropReadOnly, GetValue, sizeof(KSPROPERTY), 4, nullptr);
    items[2] = Item(kPropWriteOnly, nullptr, sizeof(KSPROPERTY), 4, SetValue);
    items[3] = Item(kPropLarge, GetPlain, 32, 8, nullptr);
    propertySet = {&kTestPropertySet, 4, items, 0, nullptr};
    automation = {1, sizeof(KSPROPERTY_ITEM), &propertySet, 0, 0, nullptr, 0, 0, nullptr};

    filterDescriptor.Dispatch = &filterDispatch;
    filterDescriptor.AutomationTable = &automation;
    filterDescriptor.Version = KSFILTER_DESCRIPTOR_VERSION;
    filterDescriptor.ReferenceGuid = &KSNAME_Filter;
    filterDescriptor.PinDescriptorsCount = 1;
    filterDescriptor.PinDescriptorSize = sizeof(KSPIN_DESCRIPTOR_EX);
    filterDescriptor.PinDescriptors = &pinDescriptor;

    device.Bag = KsCreateObjectBag();
    current = this;
}

TestMiniDriver::~TestMiniDriver() {
    KsFreeObjectBag(device.Bag);
    current = nullptr;
}

KS_DATAFORMAT_VIDEOINFOHEADER TestMiniDriver::Format() {
    KS_DATARANGE_VIDEO range = VideoRange(MEDIASUBTYPE_RGB32);
    KS_DATAFORMAT_VIDEOINFOHEADER format{};
    format.DataFormat = range.DataRange;
    format.DataFormat.FormatSize = sizeof format;
    format.VideoInfoHeader = range.VideoInfoHeader;
    return format;
}

void TestMiniDriver::ClearRecords() {
    calls.clear();
    stateCalls.clear();
}

TestFrame::TestFrame(uint32_t bytes, bool withFrameInfo) : data(bytes) {
    static_assert(sizeof headers == sizeof(KSSTREAM_HEADER) + sizeof(KS_FRAME_INFO));
    headers.header.Size = withFrameInfo ? sizeof headers : sizeof(KSSTREAM_HEADER);
    headers.header.Data = data.data();
    headers.header.FrameExtent = bytes;
}

}  // namespace bayercam::test
