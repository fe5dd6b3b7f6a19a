#include "gst/bayercam_src.h"

#include <bayercam/bayercam.h>
#include <bayercam/bayercam_raw.h>
#include <gst/video/gstvideopool.h>
#include <gst/video/video.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "gst/announced_framerate.h"
#include "gst/available_cameras.h"
#include "gst/control_params.h"
#include "gst/frame_timeline.h"

GST_DEBUG_CATEGORY_STATIC(bayercam_src_debug);
#define GST_CAT_DEFAULT bayercam_src_debug

namespace bayercam::gst {
namespace {

// How long one wait for a frame lasts before the streaming thread looks whether it is asked to
// stop: the bound on how long a state change waits for it.
constexpr uint32_t kFramePollMs = 50;
// A camera that sends no frame within the driver's frame time-out and a margin (plus two frame
// times at a slow announced rate) is not working: gone from the bus, or stuck.
constexpr uint32_t kFrameTimeoutMs = 5000;
constexpr int kSensorWidth = 1360;
constexpr int kSensorHeight = 1024;

enum {
    PROP_0,
    PROP_CAMERA,
    PROP_SETTINGS_DIR,
    PROP_AUTO_EXPOSURE,
    PROP_REGION_OF_INTEREST,
    PROP_DROPPED,
    PROP_FIRST_CONTROL,
};

// The readable controls, fixed when the class is made.
const std::vector<ControlParam>& Controls() {
    static const std::vector<ControlParam> controls = DescribeControls();
    return controls;
}

struct Region {
    int32_t x, y, width, height;
};

// "X,Y,W,H", four integers.
std::optional<Region> ParseRegion(const std::string& text) {
    Region region{};
    int end = 0;
    if (std::sscanf(text.c_str(), "%d,%d,%d,%d%n", &region.x, &region.y, &region.width,
                    &region.height, &end) != 4 ||
        static_cast<size_t>(end) != text.size())
        return std::nullopt;
    return region;
}

// Everything the element holds beyond its GObject parts.
struct SourceState {
    // Properties and the open camera. The streaming thread waits for frames without it: the
    // camera opens before that thread runs and closes after it stopped.
    std::mutex lock;
    std::string camera;  // the selector asked for; empty: the first available camera
    std::string settingsDir;
    bool autoExposure = false;
    std::string regionOfInterest;         // "X,Y,W,H"; empty: the camera's own
    std::map<size_t, int32_t> requested;  // control index -> the value the application set

    bayercam_camera* open = nullptr;
    std::string openName;  // the selector opened, for messages
    GstVideoInfo info;     // the delivered frames, valid while open
    Framerate rate{30, 1};
    gint64 stallLimitUs = 0;  // how long the streaming thread waits for a frame

    // Streaming thread.
    FrameTimeline timeline;
    std::atomic<bool> flushing{false};
    std::atomic<bool> resync{true};
    std::atomic<uint64_t> dropped{0};
};

}  // namespace
}  // namespace bayercam::gst

using bayercam::gst::SourceState;

struct _BayercamSrc {
    GstPushSrc parent;
    SourceState* state;
};

G_DEFINE_TYPE(BayercamSrc, bayercam_src, GST_TYPE_PUSH_SRC)

namespace bayercam::gst {
namespace {

SourceState& StateOf(gpointer object) {
    return *BAYERCAM_SRC(object)->state;
}

// Applies what the application set before the camera opened. Caller holds the lock.
bool ConfigureCamera(BayercamSrc* src, SourceState& s) {
    for (const auto& [index, value] : s.requested) {
        const ControlParam& control = Controls()[index];
        if (bayercam_set_control(s.open, control.control.c_str(), value) != 0)
            GST_WARNING_OBJECT(src, "%s=%d: %s", control.control.c_str(), value,
                               bayercam_last_error(s.open));
    }
    if (s.autoExposure && bayercam_set_auto_exposure(s.open, 1) != 0)
        GST_WARNING_OBJECT(src, "auto-exposure: %s", bayercam_last_error(s.open));
    if (s.regionOfInterest.empty()) return true;
    std::optional<Region> region = ParseRegion(s.regionOfInterest);
    if (!region ||
        bayercam_set_region(s.open, region->x, region->y, region->width, region->height) != 0) {
        GST_ELEMENT_ERROR(src, RESOURCE, SETTINGS,
                          ("Camera %s cannot deliver region-of-interest \"%s\".",
                           s.openName.c_str(), s.regionOfInterest.c_str()),
                          ("%s", region ? bayercam_last_error(s.open) : "expected X,Y,W,H"));
        return false;
    }
    return true;
}

// Starts the stream and learns the delivered size from its first frame. Caller holds the lock.
bool StartStream(BayercamSrc* src, SourceState& s) {
    bayercam_frame* frame = nullptr;
    if (bayercam_start(s.open) != 0 || bayercam_next_frame(s.open, kFrameTimeoutMs, &frame) != 0) {
        GST_ELEMENT_ERROR(src, RESOURCE, READ,
                          ("Camera %s does not deliver frames.", s.openName.c_str()),
                          ("%s", bayercam_last_error(s.open)));
        return false;
    }
    gst_video_info_set_format(&s.info, GST_VIDEO_FORMAT_BGRx, frame->width, frame->height);
    GST_VIDEO_INFO_FPS_N(&s.info) = s.rate.numerator;
    GST_VIDEO_INFO_FPS_D(&s.info) = s.rate.denominator;
    bayercam_release_frame(s.open, frame);
    s.stallLimitUs = gint64(kFrameTimeoutMs) * 1000;
    if (s.rate.numerator > 0)
        s.stallLimitUs +=
            2 * gst_util_uint64_scale_int(G_USEC_PER_SEC, s.rate.denominator, s.rate.numerator);
    return true;
}

void CloseCamera(SourceState& s) {
    if (!s.open) return;
    bayercam_stop(s.open);
    bayercam_close(s.open);
    s.open = nullptr;
}

gboolean Start(GstBaseSrc* base) {
    BayercamSrc* src = BAYERCAM_SRC(base);
    SourceState& s = StateOf(base);
    std::lock_guard<std::mutex> guard(s.lock);
    s.openName = s.camera;
    if (s.openName.empty()) {
        std::vector<std::string> available = AvailableCameras();
        if (!available.empty()) s.openName = available.front();
    }
    s.rate = AnnouncedFramerate(s.openName);
    const char* settingsDir = s.settingsDir.empty() ? nullptr : s.settingsDir.c_str();
    if (bayercam_open(s.openName.c_str(), settingsDir, &s.open) != 0) {
        s.open = nullptr;
        GST_ELEMENT_ERROR(
            src, RESOURCE, NOT_FOUND,
            ("Cannot open camera %s.", s.openName.empty() ? "(none attached)" : s.openName.c_str()),
            ("%s", bayercam_last_error(nullptr)));
        return FALSE;
    }
    if (!ConfigureCamera(src, s) || !StartStream(src, s)) {
        CloseCamera(s);
        return FALSE;
    }
    s.resync = true;
    s.dropped = 0;
    return TRUE;
}

gboolean Stop(GstBaseSrc* base) {
    SourceState& s = StateOf(base);
    std::lock_guard<std::mutex> guard(s.lock);
    CloseCamera(s);
    return TRUE;
}

GstCaps* GetCaps(GstBaseSrc* base, GstCaps* filter) {
    SourceState& s = StateOf(base);
    GstCaps* caps;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        caps = s.open ? gst_video_info_to_caps(&s.info) : AnyCameraCaps();
    }
    if (!filter) return caps;
    GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(caps);
    return both;
}

// Downstream's pool where it offers one, else a video pool of our own, sized for the frame.
gboolean DecideAllocation(GstBaseSrc* base, GstQuery* query) {
    GstCaps* caps = nullptr;
    GstVideoInfo info;
    gst_query_parse_allocation(query, &caps, nullptr);
    if (!caps || !gst_video_info_from_caps(&info, caps)) return FALSE;
    GstBufferPool* pool = nullptr;
    guint size = info.size, minimum = 0, maximum = 0;
    bool offered = gst_query_get_n_allocation_pools(query) > 0;
    if (offered) {
        gst_query_parse_nth_allocation_pool(query, 0, &pool, &size, &minimum, &maximum);
        size = MAX(size, static_cast<guint>(info.size));
    }
    if (!pool) pool = gst_video_buffer_pool_new();
    GstStructure* config = gst_buffer_pool_get_config(pool);
    gst_buffer_pool_config_set_params(config, caps, size, minimum, maximum);
    if (gst_query_find_allocation_meta(query, GST_VIDEO_META_API_TYPE, nullptr))
        gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_META);
    gboolean configured = gst_buffer_pool_set_config(pool, config);
    if (offered)
        gst_query_set_nth_allocation_pool(query, 0, pool, size, minimum, maximum);
    else
        gst_query_add_allocation_pool(query, pool, size, minimum, maximum);
    gst_object_unref(pool);
    return configured &&
           GST_BASE_SRC_CLASS(bayercam_src_parent_class)->decide_allocation(base, query);
}

gboolean Query(GstBaseSrc* base, GstQuery* query) {
    if (GST_QUERY_TYPE(query) != GST_QUERY_LATENCY)
        return GST_BASE_SRC_CLASS(bayercam_src_parent_class)->query(base, query);
    SourceState& s = StateOf(base);
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.open) return FALSE;
    // A frame is complete one frame time after it began; the driver holds at most one more.
    GstClockTime frame =
        s.rate.numerator > 0
            ? gst_util_uint64_scale_int(GST_SECOND, s.rate.denominator, s.rate.numerator)
            : 0;
    gst_query_set_latency(query, TRUE, frame, 2 * frame);
    return TRUE;
}

gboolean Unlock(GstBaseSrc* base) {
    StateOf(base).flushing = true;
    return TRUE;
}

gboolean UnlockStop(GstBaseSrc* base) {
    SourceState& s = StateOf(base);
    s.flushing = false;
    s.resync = true;
    return TRUE;
}

std::optional<uint64_t> RunningTimeNow(GstElement* element) {
    GstClock* clock = gst_element_get_clock(element);
    if (!clock) return std::nullopt;
    GstClockTime now = gst_clock_get_time(clock);
    GstClockTime base = gst_element_get_base_time(element);
    gst_object_unref(clock);
    return now > base ? now - base : 0;
}

// Copies the frame into the buffer; sizes were agreed in the caps.
bool CopyFrame(const GstVideoInfo& info, const bayercam_frame& frame, GstBuffer* buffer) {
    GstVideoFrame video;
    if (static_cast<int>(frame.width) != GST_VIDEO_INFO_WIDTH(&info) ||
        static_cast<int>(frame.height) != GST_VIDEO_INFO_HEIGHT(&info) ||
        !gst_video_frame_map(&video, &info, buffer, GST_MAP_WRITE))
        return false;
    auto* to = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&video, 0));
    int toStride = GST_VIDEO_FRAME_PLANE_STRIDE(&video, 0);
    size_t row = 4 * static_cast<size_t>(frame.width);
    if (toStride == frame.stride) {
        std::memcpy(to, frame.data, static_cast<size_t>(frame.stride) * (frame.height - 1) + row);
    } else {
        for (uint32_t y = 0; y < frame.height; ++y)
            std::memcpy(to + static_cast<size_t>(toStride) * y,
                        frame.data + static_cast<size_t>(frame.stride) * y, row);
    }
    gst_video_frame_unmap(&video);
    return true;
}

GstFlowReturn Fill(GstPushSrc* push, GstBuffer* buffer) {
    BayercamSrc* src = BAYERCAM_SRC(push);
    SourceState& s = StateOf(push);
    bayercam_frame* frame = nullptr;
    gint64 giveUp = g_get_monotonic_time() + s.stallLimitUs;
    for (;;) {
        if (s.flushing) return GST_FLOW_FLUSHING;
        int status = bayercam_next_frame(s.open, kFramePollMs, &frame);
        if (status == 0) break;
        if (status == -ETIMEDOUT && g_get_monotonic_time() < giveUp) continue;
        if (status == -ENODEV)
            GST_ELEMENT_ERROR(src, RESOURCE, READ, ("Camera %s was unplugged.", s.openName.c_str()),
                              ("%s", bayercam_last_error(s.open)));
        else
            GST_ELEMENT_ERROR(src, RESOURCE, READ,
                              ("Camera %s stopped delivering frames.", s.openName.c_str()),
                              ("%s (%s)", bayercam_last_error(s.open), g_strerror(-status)));
        return GST_FLOW_ERROR;
    }
    if (!CopyFrame(s.info, *frame, buffer)) {
        GST_ELEMENT_ERROR(src, CORE, NEGOTIATION,
                          ("Camera %s delivered a %ux%u frame, not the size agreed.",
                           s.openName.c_str(), frame->width, frame->height),
                          (nullptr));
        bayercam_release_frame(s.open, frame);
        return GST_FLOW_ERROR;
    }
    if (s.resync.exchange(false)) s.timeline.Resync();
    FrameStamp stamp =
        s.timeline.Next(frame->sequence, frame->timestamp_ns, RunningTimeNow(GST_ELEMENT(src)));
    GST_BUFFER_PTS(buffer) = stamp.pts;
    GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
    GST_BUFFER_DURATION(buffer) =
        GST_VIDEO_INFO_FPS_N(&s.info) > 0
            ? gst_util_uint64_scale_int(GST_SECOND, GST_VIDEO_INFO_FPS_D(&s.info),
                                        GST_VIDEO_INFO_FPS_N(&s.info))
            : GST_CLOCK_TIME_NONE;
    GST_BUFFER_OFFSET(buffer) = frame->sequence;
    GST_BUFFER_OFFSET_END(buffer) = frame->sequence + 1;
    if (stamp.discont) GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
    if (stamp.dropped > 0) {
        s.dropped += stamp.dropped;
        GST_DEBUG_OBJECT(src, "%" G_GUINT64_FORMAT " frames dropped before %" G_GUINT64_FORMAT,
                         stamp.dropped, frame->sequence);
    }
    bayercam_release_frame(s.open, frame);
    return GST_FLOW_OK;
}

void SetString(SourceState& s, std::string* field, const GValue* value) {
    const gchar* text = g_value_get_string(value);
    std::lock_guard<std::mutex> guard(s.lock);
    *field = text ? text : "";
}

void GetString(SourceState& s, const std::string& field, GValue* value) {
    std::lock_guard<std::mutex> guard(s.lock);
    g_value_set_string(value, field.empty() ? nullptr : field.c_str());
}

// The control a property id past the fixed ones stands for; warns of an unknown id.
bool ControlIndex(GObject* object, guint id, GParamSpec* pspec, size_t* index) {
    *index = id - PROP_FIRST_CONTROL;
    if (id >= PROP_FIRST_CONTROL && *index < Controls().size()) return true;
    G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    return false;
}

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    SourceState& s = StateOf(object);
    switch (id) {
        case PROP_CAMERA:
            return SetString(s, &s.camera, value);
        case PROP_SETTINGS_DIR:
            return SetString(s, &s.settingsDir, value);
        case PROP_REGION_OF_INTEREST:
            return SetString(s, &s.regionOfInterest, value);
        case PROP_AUTO_EXPOSURE: {
            std::lock_guard<std::mutex> guard(s.lock);
            s.autoExposure = g_value_get_boolean(value);
            if (s.open && bayercam_set_auto_exposure(s.open, s.autoExposure) != 0)
                GST_WARNING_OBJECT(object, "auto-exposure: %s", bayercam_last_error(s.open));
            return;
        }
    }
    size_t index = 0;
    if (!ControlIndex(object, id, pspec, &index)) return;
    const ControlParam& control = Controls()[index];
    int32_t wanted = ControlFromValue(control, value);
    std::lock_guard<std::mutex> guard(s.lock);
    s.requested[index] = wanted;
    if (s.open && bayercam_set_control(s.open, control.control.c_str(), wanted) != 0)
        GST_WARNING_OBJECT(object, "%s=%d: %s", control.control.c_str(), wanted,
                           bayercam_last_error(s.open));
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    SourceState& s = StateOf(object);
    switch (id) {
        case PROP_CAMERA:
            return GetString(s, s.camera, value);
        case PROP_SETTINGS_DIR:
            return GetString(s, s.settingsDir, value);
        case PROP_REGION_OF_INTEREST:
            return GetString(s, s.regionOfInterest, value);
        case PROP_AUTO_EXPOSURE: {
            std::lock_guard<std::mutex> guard(s.lock);
            g_value_set_boolean(value, s.autoExposure);
            return;
        }
        case PROP_DROPPED:
            g_value_set_uint64(value, s.dropped);
            return;
    }
    size_t index = 0;
    if (!ControlIndex(object, id, pspec, &index)) return;
    const ControlParam& control = Controls()[index];
    // The camera's own value once open (clamped, or changed by the stream); before, what was
    // asked for, else the default.
    std::lock_guard<std::mutex> guard(s.lock);
    int32_t current = control.byDefault;
    auto asked = s.requested.find(index);
    if (asked != s.requested.end()) current = asked->second;
    if (s.open) bayercam_get_control(s.open, control.control.c_str(), &current);
    ControlToValue(control, current, value);
}

void Finalize(GObject* object) {
    BayercamSrc* src = BAYERCAM_SRC(object);
    CloseCamera(*src->state);
    delete src->state;
    G_OBJECT_CLASS(bayercam_src_parent_class)->finalize(object);
}

void InstallProperties(GObjectClass* object) {
    auto readWrite = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                              GST_PARAM_MUTABLE_READY);
    g_object_class_install_property(
        object, PROP_CAMERA,
        g_param_spec_string("camera", "Camera",
                            "Which camera: \"sim\", \"sim:scene=chart|file:PATH,fps=F,clock=C\", "
                            "\"usb:VID:PID[:SERIAL]\", \"usb-path:BUS-PORT[.PORT...]\"; unset: the "
                            "first attached camera (\"sim\" when none is and BAYERCAM_SIM=1)",
                            nullptr, readWrite));
    g_object_class_install_property(
        object, PROP_SETTINGS_DIR,
        g_param_spec_string("settings-dir", "Settings folder",
                            "Where the camera's settings are kept; unset: "
                            "$XDG_CONFIG_HOME/bayercam, shared with the bayercam tool",
                            nullptr, readWrite));
    g_object_class_install_property(
        object, PROP_REGION_OF_INTEREST,
        g_param_spec_string("region-of-interest", "Region of interest",
                            "Sensor region to deliver, \"X,Y,W,H\" (even X and Y; the width is "
                            "rounded down to a multiple of 8); unset: the camera's own",
                            nullptr, readWrite));
    g_object_class_install_property(
        object, PROP_AUTO_EXPOSURE,
        g_param_spec_boolean("auto-exposure", "Automatic exposure",
                             "Steer exposure, then gain, toward a mid-grey image", FALSE,
                             static_cast<GParamFlags>(readWrite | GST_PARAM_MUTABLE_PLAYING)));
    g_object_class_install_property(
        object, PROP_DROPPED,
        g_param_spec_uint64("dropped", "Dropped frames",
                            "Frames the camera numbered but never delivered while playing", 0,
                            G_MAXUINT64, 0,
                            static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));
    const std::vector<ControlParam>& controls = Controls();
    for (size_t i = 0; i < controls.size(); ++i)
        g_object_class_install_property(object, PROP_FIRST_CONTROL + i, ParamSpecOf(controls[i]));
}

}  // namespace

GstCaps* AnyCameraCaps() {
    return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", "width",
                               GST_TYPE_INT_RANGE, 8, kSensorWidth, "height", GST_TYPE_INT_RANGE, 1,
                               kSensorHeight, "framerate", GST_TYPE_FRACTION_RANGE, 0, 1, G_MAXINT,
                               1, nullptr);
}

bool UnplugSimulatedCamera(BayercamSrc* src) {
    SourceState& s = StateOf(src);
    std::lock_guard<std::mutex> guard(s.lock);
    return s.open && bayercam_sim_unplug(s.open) == 0;
}

gboolean RegisterSource(GstPlugin* plugin) {
    return gst_element_register(plugin, "bayercamsrc", GST_RANK_NONE, BAYERCAM_TYPE_SRC);
}

}  // namespace bayercam::gst

static void bayercam_src_class_init(BayercamSrcClass* klass) {
    using namespace bayercam::gst;
    GST_DEBUG_CATEGORY_INIT(bayercam_src_debug, "bayercamsrc", 0, "Bayer camera source");
    GObjectClass* object = G_OBJECT_CLASS(klass);
    object->set_property = SetProperty;
    object->get_property = GetProperty;
    object->finalize = Finalize;
    InstallProperties(object);

    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_set_static_metadata(element, "Bayer camera source", "Source/Video",
                                          "Video from the USB Bayer colour camera",
                                          "bayercam developers");
    GstCaps* caps = AnyCameraCaps();
    gst_element_class_add_pad_template(
        element, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, caps));
    gst_caps_unref(caps);

    GstBaseSrcClass* base = GST_BASE_SRC_CLASS(klass);
    base->start = Start;
    base->stop = Stop;
    base->get_caps = GetCaps;
    base->decide_allocation = DecideAllocation;
    base->query = Query;
    base->unlock = Unlock;
    base->unlock_stop = UnlockStop;
    GST_PUSH_SRC_CLASS(klass)->fill = Fill;
}

static void bayercam_src_init(BayercamSrc* src) {
    src->state = new SourceState;
    gst_video_info_init(&src->state->info);
    gst_base_src_set_live(GST_BASE_SRC(src), TRUE);
    gst_base_src_set_format(GST_BASE_SRC(src), GST_FORMAT_TIME);
}
