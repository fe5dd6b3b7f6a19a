/* libbayercam: the sensor's own data behind delivered frames, for bindings that hand it out
 * (the raw Bayer frame and the region cut from it), and the simulated camera's cable, for
 * applications that test their own handling of a camera that leaves. Builds on
 * <bayercam/bayercam.h>. */
#ifndef BAYERCAM_BAYERCAM_RAW_H
#define BAYERCAM_BAYERCAM_RAW_H

#include "bayercam/bayercam.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Keeps the raw frame behind each delivered frame, from the next bayercam_start on (-EBUSY while
 * streaming). Off when a camera is opened; each kept frame costs one raw-frame copy. */
BAYERCAM_API int bayercam_set_raw_frames(bayercam_camera* cam, int on);

/* The raw frame `frame` was made from: the whole sensor, `*width` x `*height` 8-bit samples of
 * the RGGB mosaic, top row first, rows `*stride` bytes apart. Valid while `frame` is held.
 * -ENOENT when the stream does not keep raw frames. */
BAYERCAM_API int bayercam_frame_raw(bayercam_camera* cam, const bayercam_frame* frame,
                                    const uint8_t** data, uint32_t* width, uint32_t* height,
                                    int32_t* stride);

/* The sensor region the camera delivers (as aligned and bounded when it was set). */
BAYERCAM_API int bayercam_get_region(bayercam_camera* cam, int32_t* x, int32_t* y, int32_t* w,
                                     int32_t* h);

/* Pulls the simulated camera's cable: every transfer in flight fails, the camera leaves the bus,
 * and from then on the camera answers as an unplugged real one does (bayercam_next_frame:
 * -ENODEV). -ENOTSUP for a real camera. */
BAYERCAM_API int bayercam_sim_unplug(bayercam_camera* cam);

#ifdef __cplusplus
}
#endif

#endif
