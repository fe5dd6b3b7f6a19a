#include "camera/initialize_camera.h"

#include "settings/settings_store.h"

namespace bayercam {

// The start-up command and the sensor sequence come with the register protocol; the settings
// load already ends the start-up as it will then.
bool InitializeCamera(CameraDevice* device) {
    LoadSettings(device);
    return true;
}

}  // namespace bayercam
