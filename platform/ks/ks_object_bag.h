// Object bags: the class driver's ownership lists. Emptying a bag runs each item's free
// callback, newest first.
#pragma once

#include "platform/ks/ks.h"

namespace bayercam {

// Null when the bag's own record cannot be allocated.
KSOBJECT_BAG KsCreateObjectBag();
// Runs every item's free callback (newest first) and frees the bag.
void KsFreeObjectBag(KSOBJECT_BAG bag);
// Items currently held, for tests.
int KsObjectBagCount(KSOBJECT_BAG bag);

}  // namespace bayercam
