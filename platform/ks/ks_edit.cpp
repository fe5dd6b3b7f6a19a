#include "platform/ks/ks_edit.h"

#include <cstring>
#include <functional>

#include "platform/kernel/pool.h"

namespace bayercam {
namespace {

bool Inside(const void* start, size_t size, const void* address, size_t bytes) {
    std::less_equal<const void*> le;
    auto* begin = static_cast<const uint8_t*>(start);
    auto* at = static_cast<const uint8_t*>(address);
    return le(begin, at) && le(at + bytes, begin + size);
}

bool IsEdited(const KsEditedBlocks& edited, const void* start) {
    for (const auto& block : edited.blocks)
        if (block.start == start) return true;
    return false;
}

}  // namespace

NTSTATUS KsEditBlock(KSOBJECT_BAG bag, KsEditedBlocks* edited, const void* object,
                     size_t objectSize, void** pointer, size_t size) {
    if (!bag || !edited || !pointer || size == 0) return STATUS_INVALID_PARAMETER;
    bool writableSlot = Inside(object, objectSize, pointer, sizeof *pointer);
    for (const auto& block : edited->blocks)
        writableSlot = writableSlot || Inside(block.start, block.size, pointer, sizeof *pointer);
    if (!writableSlot) return STATUS_INVALID_PARAMETER;

    if (IsEdited(*edited, *pointer)) return STATUS_SUCCESS;

    void* copy = ExAllocatePoolZero(size);
    if (!copy) return STATUS_INSUFFICIENT_RESOURCES;
    if (*pointer) std::memcpy(copy, *pointer, size);
    NTSTATUS status = KsAddItemToObjectBag(bag, copy, [](void* block) { ExFreePool(block); });
    if (!NT_SUCCESS(status)) {
        ExFreePool(copy);
        return status;
    }
    edited->blocks.push_back({copy, size});
    *pointer = copy;
    return STATUS_SUCCESS;
}

}  // namespace bayercam
