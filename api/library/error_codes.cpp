#include "api/library/error_codes.h"

#include <cerrno>

namespace bayercam::library {

int ErrorCode(NTSTATUS status) {
    switch (status) {
        case STATUS_SUCCESS:
            return 0;
        case STATUS_NOT_FOUND:
        case STATUS_OBJECT_NAME_NOT_FOUND:
        case STATUS_DEVICE_NOT_CONNECTED:
        case STATUS_NOT_SUPPORTED:
            return -ENODEV;
        case STATUS_ACCESS_DENIED:
        case STATUS_INVALID_DEVICE_REQUEST:  // a direction the property does not have
            return -EACCES;
        case STATUS_DEVICE_BUSY:
        case STATUS_SHARING_VIOLATION:
            return -EBUSY;
        case STATUS_INVALID_PARAMETER:
        case STATUS_NO_MATCH:
        case STATUS_BUFFER_TOO_SMALL:
            return -EINVAL;
        case STATUS_TIMEOUT:
            return -ETIMEDOUT;
        case STATUS_INSUFFICIENT_RESOURCES:
            return -ENOMEM;
        default:
            return -EIO;
    }
}

}  // namespace bayercam::library
