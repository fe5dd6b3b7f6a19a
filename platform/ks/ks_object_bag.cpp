#include "platform/ks/ks_object_bag.h"

#include <mutex>

#include "platform/kernel/pool.h"

namespace bayercam {

struct KsObjectBagItem {
    void* item;
    PFNKSFREE free;
    KsObjectBagItem* next;
};

struct KSOBJECT_BAG_IMPL {
    std::mutex lock;
    KsObjectBagItem* items = nullptr;  // newest first
};

KSOBJECT_BAG KsCreateObjectBag() {
    return PoolNew<KSOBJECT_BAG_IMPL>();
}

NTSTATUS KsAddItemToObjectBag(KSOBJECT_BAG bag, void* item, PFNKSFREE free) {
    if (!bag || !item) return STATUS_INVALID_PARAMETER;
    auto* entry = PoolNew<KsObjectBagItem>(KsObjectBagItem{item, free, nullptr});
    if (!entry) return STATUS_INSUFFICIENT_RESOURCES;
    std::lock_guard<std::mutex> guard(bag->lock);
    entry->next = bag->items;
    bag->items = entry;
    return STATUS_SUCCESS;
}

void KsFreeObjectBag(KSOBJECT_BAG bag) {
    if (!bag) return;
    KsObjectBagItem* items;
    {
        std::lock_guard<std::mutex> guard(bag->lock);
        items = bag->items;
        bag->items = nullptr;
    }
    while (items) {
        KsObjectBagItem* next = items->next;
        if (items->free) items->free(items->item);
        PoolDelete(items);
        items = next;
    }
    PoolDelete(bag);
}

int KsObjectBagCount(KSOBJECT_BAG bag) {
    std::lock_guard<std::mutex> guard(bag->lock);
    int count = 0;
    for (auto* entry = bag->items; entry; entry = entry->next) ++count;
    return count;
}

}  // namespace bayercam
