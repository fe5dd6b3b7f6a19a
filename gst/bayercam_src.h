// bayercamsrc: the camera as a live GStreamer source of BGRx frames.
#pragma once

#include <gst/base/gstpushsrc.h>

G_BEGIN_DECLS

#define BAYERCAM_TYPE_SRC (bayercam_src_get_type())
G_DECLARE_FINAL_TYPE(BayercamSrc, bayercam_src, BAYERCAM, SRC, GstPushSrc)

G_END_DECLS

namespace bayercam::gst {

// Registers bayercamsrc with `plugin` (null: statically, as tests do).
gboolean RegisterSource(GstPlugin* plugin);

// The caps every camera can deliver, whatever its region.
GstCaps* AnyCameraCaps();

// Pulls the cable of the simulated camera the element has open, for tests of what an unplug
// does; false when it has none open.
bool UnplugSimulatedCamera(BayercamSrc* src);

}  // namespace bayercam::gst
