#include "settings/settings_store.h"

namespace bayercam {

// There is no settings store yet: nothing is loaded or saved.
bool LoadSettings(CameraDevice*) {
    return false;
}

bool SaveSettings(CameraDevice*) {
    return false;
}

}  // namespace bayercam
