// The negative errno-style codes of the application interface, from the driver's NT statuses.
#pragma once

#include "platform/kernel/ntstatus.h"

namespace bayercam::library {

// 0 for success; otherwise -ENODEV, -EACCES, -EBUSY, -EINVAL, -ETIMEDOUT, -ENOMEM or -EIO.
int ErrorCode(NTSTATUS status);

}  // namespace bayercam::library
