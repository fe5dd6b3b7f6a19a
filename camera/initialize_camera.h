// Bringing a freshly configured camera into its working state.
#pragma once

namespace bayercam {

struct CameraDevice;

// Sends the start-up command, runs the sensor set-up sequence, then applies the saved settings.
// Write failures do not stop it: always true.
bool InitializeCamera(CameraDevice* device);
// The fixed sensor set-up: a logic-register pulse, a 0.8 ms pause, 659 sensor register writes,
// the clock read and the writes for that clock selection. Always true.
bool SensorSetupSequence(CameraDevice* device);

}  // namespace bayercam
