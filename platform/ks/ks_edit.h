// KsEdit: gives a filter or pin its own writable copy of a descriptor it points to (the pin's
// descriptor, its allocator framing...), owned by the object's bag.
#pragma once

#include <cstddef>
#include <type_traits>
#include <vector>

#include "platform/ks/ks.h"

namespace bayercam {

// Blocks an object already made its own, so that a second edit of the same pointer is a no-op
// and an edit may reach into an edited block (the framing pointer inside an edited descriptor).
struct KsEditedBlocks {
    struct Block {
        const void* start;
        size_t size;
    };
    std::vector<Block> blocks;
};

// `pointer` must lie inside `object` (the object's own record) or inside a block already edited;
// anything else (a static descriptor's member) is refused with STATUS_INVALID_PARAMETER.
// A null `*pointer` gets a zero-filled block.
NTSTATUS KsEditBlock(KSOBJECT_BAG bag, KsEditedBlocks* edited, const void* object,
                     size_t objectSize, void** pointer, size_t size);

NTSTATUS KsEditObject(KSFILTER* filter, void** pointer, size_t size);
NTSTATUS KsEditObject(KSPIN* pin, void** pointer, size_t size);

// KsEdit(pin, &pin->Descriptor), then KsEdit(pin, &pin->Descriptor->AllocatorFraming).
// The optional `writable` receives the object's copy.
template <typename Object, typename T>
NTSTATUS KsEdit(Object* object, T* const* pointer, std::remove_const_t<T>** writable = nullptr) {
    void** slot = const_cast<void**>(reinterpret_cast<const void* const*>(pointer));
    NTSTATUS status = KsEditObject(object, slot, sizeof(T));
    if (writable)
        *writable = NT_SUCCESS(status) ? const_cast<std::remove_const_t<T>*>(*pointer) : nullptr;
    return status;
}

}  // namespace bayercam
