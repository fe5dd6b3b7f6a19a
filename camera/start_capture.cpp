#include "camera/start_capture.h"

namespace bayercam {

// The capture-start programming comes with the camera controls; until then streaming cannot
// start and the raw-frame geometry stays unset.
bool StartCapture(CameraDevice*) {
    return false;
}

}  // namespace bayercam
