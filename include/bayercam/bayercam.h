/* libbayercam: the application interface to the camera.
 *
 * Every call returns 0 on success or a negative errno-style code (-ENODEV, -EACCES, -EBUSY,
 * -EINVAL, -ETIMEDOUT, -EIO, -ENOMEM, ...); bayercam_last_error() then says why in one line.
 * Frames are 32-bit BGRA, top row first, whatever the camera's flips say.
 *
 *     bayercam_camera *cam;
 *     if (bayercam_open("sim", NULL, &cam) == 0) {
 *         bayercam_frame *frame;
 *         bayercam_start(cam);
 *         if (bayercam_next_frame(cam, 3000, &frame) == 0) {
 *             use(frame->data, frame->width, frame->height, frame->stride);
 *             bayercam_release_frame(cam, frame);
 *         }
 *         bayercam_close(cam);
 *     }
 */
#ifndef BAYERCAM_BAYERCAM_H
#define BAYERCAM_BAYERCAM_H

#include <stddef.h>
#include <stdint.h>

#if defined(BAYERCAM_BUILDING_LIBRARY)
#define BAYERCAM_API __attribute__((visibility("default")))
#else
#define BAYERCAM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct bayercam_camera bayercam_camera;

typedef struct bayercam_frame {
    const uint8_t* data;    /* top row first */
    uint32_t width, height; /* the delivered image: region width rounded down to a multiple of 8 */
    int32_t stride;         /* bytes from one row to the next, >= 4 * width */
    uint32_t fourcc;        /* 'BGRA' ('B','G','R','A' little-endian), alpha 255 */
    uint64_t sequence;      /* frame number from the stream, gaps = frames dropped */
    uint64_t timestamp_ns;  /* from the stream's clock */
    uint32_t dropped;       /* frames dropped since the previous delivered frame */
} bayercam_frame;

#define BAYERCAM_FOURCC_BGRA \
    ((uint32_t)'B' | ((uint32_t)'G' << 8) | ((uint32_t)'R' << 16) | ((uint32_t)'A' << 24))

/* Opens a camera. `selector`: "sim", "sim:scene=chart|file:PATH,fps=F,clock=C",
 * "usb:VID:PID[:SERIAL]", "usb-path:BUS-PORT[.PORT...]", or NULL / "" for the first attached
 * camera. `settings_dir` NULL means $XDG_CONFIG_HOME/bayercam (else ~/.config/bayercam); the
 * camera's own folder inside it is the one the bayercam tool uses. */
BAYERCAM_API int bayercam_open(const char* selector, const char* settings_dir,
                               bayercam_camera** cam);
/* Stops the stream if it runs, saves the settings and frees the camera. NULL is ignored. What
 * failed while closing is then the thread's bayercam_last_error(NULL). */
BAYERCAM_API void bayercam_close(bayercam_camera* cam);

/* Selectors ("usb:VID:PID[:SERIAL]" or "usb-path:...") of the attached real cameras. */
BAYERCAM_API int bayercam_list(char*** selectors, size_t* count);
BAYERCAM_API void bayercam_free_list(char** selectors, size_t count);

/* Controls by property name ("Exposure", "GlobalGain", "Hue", "FlipH", ...). A set behaves like
 * the property request it is: the driver clamps, and the value is saved when the camera closes.
 * -EINVAL for an unknown name, -EACCES for a direction the control lacks, and -ENOTSUP from
 * bayercam_control_range for a control without a range. Controls may be used from another thread
 * while a stream runs. */
BAYERCAM_API int bayercam_get_control(bayercam_camera* cam, const char* name, int32_t* value);
BAYERCAM_API int bayercam_set_control(bayercam_camera* cam, const char* name, int32_t value);
BAYERCAM_API int bayercam_control_range(bayercam_camera* cam, const char* name, int32_t* min,
                                        int32_t* max, int32_t* def);

/* Every control, one index after another from 0 until -ENOENT: its name (static storage), what
 * can be done with it and, with BAYERCAM_CONTROL_RANGE, its minimum, maximum and default. The
 * driver clamps a value outside the range, except for three: a Timeout below it is ignored and
 * one above it holds until the camera closes but is not loaded again, a Clock outside it selects
 * 0, and a RegisterShadow outside it selects no register (it reads 0). */
#define BAYERCAM_CONTROL_READ 1u
#define BAYERCAM_CONTROL_WRITE 2u
#define BAYERCAM_CONTROL_RANGE 4u
typedef struct bayercam_control_info {
    const char* name;
    uint32_t flags; /* BAYERCAM_CONTROL_* */
    int32_t min, max, def;
} bayercam_control_info;
BAYERCAM_API int bayercam_describe_control(bayercam_camera* cam, uint32_t index,
                                           bayercam_control_info* info);

/* The sensor region to deliver; -EBUSY while streaming (stop, set, start). */
BAYERCAM_API int bayercam_set_region(bayercam_camera* cam, int32_t x, int32_t y, int32_t w,
                                     int32_t h);

/* -EBUSY when the camera streams already, -ENODEV when it has left the bus. */
BAYERCAM_API int bayercam_start(bayercam_camera* cam);
/* Waits at most `timeout_ms` for the next frame (-ETIMEDOUT; -EACCES when not streaming; -ENODEV
 * within 50 ms of the camera leaving the bus, and from then on, whatever `timeout_ms`). The
 * frame stays valid until it is released; release every frame before the next bayercam_stop or
 * bayercam_close. Frames of one camera come from one thread at a time. */
BAYERCAM_API int bayercam_next_frame(bayercam_camera* cam, uint32_t timeout_ms,
                                     bayercam_frame** frame);
BAYERCAM_API int bayercam_release_frame(bayercam_camera* cam, bayercam_frame* frame);
BAYERCAM_API int bayercam_stop(bayercam_camera* cam);

/* Steers Exposure, then GlobalGain, from each delivered frame toward a mid-grey image; the
 * values it sets are saved like any other. Off when a camera is opened. */
BAYERCAM_API int bayercam_set_auto_exposure(bayercam_camera* cam, int on);

/* Steers RedGain and BlueGain from each delivered frame until its greys come out neutral, in
 * place of the device's WhiteBalance (turned off on the first frame). Off when a camera is
 * opened. */
BAYERCAM_API int bayercam_set_auto_white_balance(bayercam_camera* cam, int on);

/* One line about the last failed call on `cam` (or, with NULL, the last failed bayercam_open,
 * bayercam_list or bayercam_close of this thread). The text is the calling thread's copy, valid
 * until its next bayercam_last_error call. */
BAYERCAM_API const char* bayercam_last_error(bayercam_camera* cam);

#ifdef __cplusplus
}
#endif

#endif
