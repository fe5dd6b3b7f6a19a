// bayercam capture: streams frames from the camera's capture pin and writes them out.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

#include "api/library/auto_exposure.h"
#include "api/library/auto_white_balance.h"
#include "bayercam/video_stream.h"
#include "platform/kernel/thread_cpu.h"
#include "tools/command_outcome.h"
#include "tools/control_properties.h"
#include "tools/control_session.h"
#include "tools/earlier_frames.h"
#include "tools/frame_writer.h"
#include "tools/stop_signals.h"

namespace bayercam::tool {
namespace {

struct CaptureOptions {
    uint32_t count = 30;
    std::string output = "capture";
    std::string format = "png";
    std::string roi;
    std::vector<std::string> settings;
    bool overwrite = false;
    bool autoExposure = false;
    bool autoWhiteBalance = false;
};

// Client frames in circulation, at most: the writer may fall most of a second behind the
// camera (an encoder slowed down by other work) before it holds the stream back, and the pin
// still has frames to fill meanwhile. About 180 MB of frames at full size; a short capture needs
// no more frames than it writes.
constexpr uint32_t kMaxClientFrames = 32;
constexpr uint32_t kPollMs = 10;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// What the summary reports: deliveries and the driver's count of dropped frames.
struct Tally {
    uint32_t delivered = 0;
    uint64_t streamDropped = 0;
    std::optional<int64_t> firstTime;
    int64_t lastTime = 0;

    void Count(const client::Frame& frame) {
        delivered++;
        if (const KS_FRAME_INFO* info = frame.FrameInfo()) {
            // The driver counts the frames it dropped since the stream started.
            streamDropped = std::max(streamDropped, uint64_t(info->DropCount));
        }
        if (frame.Header().OptionsFlags & KSSTREAM_HEADER_OPTIONSF_TIMEVALID) {
            if (!firstTime) firstTime = frame.Header().PresentationTime.Time;
            lastTime = frame.Header().PresentationTime.Time;
        }
    }
    double Fps() const {
        if (!firstTime || delivered < 2 || lastTime <= *firstTime) return 0;
        return double(delivered - 1) * 1e7 / double(lastTime - *firstTime);
    }
};

// CPU seconds of the process, and of the driver's own threads alone (no simulated camera, no
// writer, no start-up on the main thread).
struct CpuSpent {
    double process;
    double driver;
};

void PrintSummary(std::FILE* out, const Tally& tally, uint64_t written, const CpuSpent& cpu) {
    std::fprintf(out, "frames delivered: %u\n", tally.delivered);
    std::fprintf(out, "frames written:   %llu\n", (unsigned long long)written);
    std::fprintf(out, "frames dropped:   %llu (stream %llu, writer 0)\n",
                 (unsigned long long)tally.streamDropped, (unsigned long long)tally.streamDropped);
    std::fprintf(out, "mean fps:         %.2f\n", tally.Fps());
    if (tally.firstTime) {
        std::fprintf(out, "first time stamp: %lld (%.4f s)\n", (long long)*tally.firstTime,
                     double(*tally.firstTime) / 1e7);
        std::fprintf(out, "last time stamp:  %lld (%.4f s)\n", (long long)tally.lastTime,
                     double(tally.lastTime) / 1e7);
    }
    if (tally.delivered > 0) {
        std::fprintf(out, "cpu per frame:    %.2f ms (the whole process, start-up included)\n",
                     cpu.process * 1e3 / tally.delivered);
        std::fprintf(out, "driver cpu per frame: %.2f ms\n", cpu.driver * 1e3 / tally.delivered);
    }
}

bool ParseFormat(const std::string& name, FrameFileFormat* format) {
    if (name == "png")
        *format = FrameFileFormat::Png;
    else if (name == "bgra")
        *format = FrameFileFormat::Bgra;
    else if (name == "raw")
        *format = FrameFileFormat::Raw;
    else
        return false;
    return true;
}

bool MakeDirectory(const std::string& path, std::string* error) {
    if (mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) return true;
    *error = path + ": " + std::strerror(errno);
    return false;
}

int Fail(const std::string& message, int exitCode = kExitFailure) {
    std::fprintf(stderr, "bayercam capture: %s\n", message.c_str());
    return exitCode;
}

// The output folder, made when absent; frame files of an earlier capture in it are refused, or
// removed first with --overwrite, so no stale frame sits among the new ones.
bool PrepareDirectory(const CaptureOptions& options, std::string* error) {
    if (!MakeDirectory(options.output, error)) return false;
    const size_t earlier = EarlierFrameFiles(options.output).size();
    if (earlier == 0) return true;
    if (options.overwrite) return RemoveEarlierFrameFiles(options.output, error);
    *error = options.output + " holds " + std::to_string(earlier) +
             " frame file(s) of an earlier capture: remove them, choose another folder with -o, "
             "or give --overwrite to replace them";
    return false;
}

int NumberDigits(uint32_t count) {
    return std::max(4, int(std::to_string(count).size()));
}

// A region the driver rounded to nothing: every stream would fail to find a format.
bool RegionGivesImage(const CameraDevice* camera, std::string* error) {
    if (camera->roiW.load() >= kMinRegionWidth && camera->roiH.load() > 0) return true;
    *error = "the saved region of interest " + FormatRegion(*camera) +
             " gives no image: set one at least " + std::to_string(kMinRegionWidth) +
             " pixels wide, e.g. bayercam set RegionOfInterest=0,0,1360,1024";
    return false;
}

// The settings asked for, checked before the camera is opened: a malformed one is a usage error.
bool ParseSettings(const CaptureOptions& options, std::string* error) {
    const ControlProperty* property = nullptr;
    std::vector<int32_t> values;
    for (const std::string& text : options.settings) {
        if (!ParseAssignment(text, &property, &values, error)) return false;
    }
    return options.roi.empty() ||
           ParseAssignment("RegionOfInterest=" + options.roi, &property, &values, error);
}

// The settings asked for, as property requests on the filter before the pin exists; they reach
// the settings store with the filter's close, as any property change does.
bool ApplySettings(const client::Filter& filter, const CaptureOptions& options,
                   std::string* error) {
    std::vector<std::string> assignments = options.settings;
    if (!options.roi.empty()) assignments.push_back("RegionOfInterest=" + options.roi);
    for (const std::string& text : assignments) {
        const ControlProperty* property = nullptr;
        std::vector<int32_t> values;
        if (!ParseAssignment(text, &property, &values, error)) return false;
        client::Status status = SetControl(filter, *property, values);
        if (!status.ok()) {
            *error = DescribeFailure(*property, true, status);
            return false;
        }
    }
    return true;
}

// Frames the automatic exposure may take to settle before the capture begins without it settled.
constexpr int kMaxSettleFrames = 60;

// What the automatic exposure looks at: any row order will do for its mean.
bayercam_frame Described(const client::Frame& frame, const FrameOutput& format) {
    bayercam_frame described{};
    described.data = frame.Data();
    described.width = uint32_t(format.width);
    described.height = uint32_t(format.height);
    described.stride = int32_t(format.pitch);
    const KS_FRAME_INFO* info = frame.FrameInfo();
    described.sequence = info ? uint64_t(info->PictureNumber) : 0;
    return described;
}

// The loops above the driver that steer the camera from the frames it delivers.
struct FrameLoops {
    library::AutoExposure exposure;
    library::AutoWhiteBalance whiteBalance;

    bool Enabled() const { return exposure.Enabled() || whiteBalance.Enabled(); }
    bool Settled() const {
        return (!exposure.Enabled() || exposure.Settled()) &&
               (!whiteBalance.Enabled() || whiteBalance.Settled());
    }
    void Observe(const bayercam_frame& frame, const client::Filter& filter,
                 const CameraDevice* camera) {
        const library::FramesRead framesRead = [camera] {
            return uint32_t(camera->frameCounter.load());
        };
        exposure.Observe(frame, filter, framesRead);
        whiteBalance.Observe(frame, filter, framesRead);
    }
};

// The stream's frames steer the loops until they settle; none of them is written.
client::Status SettleLoops(client::VideoStream& stream, FrameLoops& loops,
                           const client::Filter& filter, const CameraDevice* camera,
                           const FrameOutput& format, uint32_t timeoutMs) {
    for (int i = 0; i < kMaxSettleFrames && !loops.Settled(); ++i) {
        client::Frame* frame = nullptr;
        client::Status status = stream.Next(timeoutMs, &frame);
        if (!status.ok()) return status;
        loops.Observe(Described(*frame, format), filter, camera);
        status = stream.Requeue(frame);
        if (!status.ok()) return status;
    }
    return {};
}

// No frame for this long means the camera has stopped delivering.
uint32_t StallLimitMs(const CameraDevice* device) {
    return uint32_t(std::max(5000, 2 * device->timeout.load() + 1000));
}

int RunCapture(const GlobalOptions& global, const CaptureOptions& options) {
    FrameOutput output;
    if (!ParseFormat(options.format, &output.format))
        return Fail("--format " + options.format + ": expected png, bgra or raw");
    if (options.output == "-" && global.usbTrace == "-")
        return Fail("--usb-trace - needs standard output, where -o - sends the frames", kExitUsage);
    std::string error;
    if (!ParseSettings(options, &error)) return Fail(error, kExitUsage);
    if (!options.settings.empty() || !options.roi.empty()) CommandChangesSettings();
    if (options.output != "-") {
        if (!PrepareDirectory(options, &error)) return Fail(error);
        output.directory = options.output;
        output.digits = NumberDigits(options.count);
    }

    std::unique_ptr<ControlSession> session = ControlSession::Open(global, &error);
    if (!session) return Fail(error);
    const client::Filter& filter = session->Filter();
    if (!ApplySettings(filter, options, &error)) return Fail(error);
    if (!RegionGivesImage(session->Device().Camera(), &error)) return Fail(error);
    const uint32_t frames = std::min(options.count, kMaxClientFrames);
    client::VideoStream stream;
    client::Status status =
        stream.Open(filter, {.frames = frames, .rawFrames = output.format == FrameFileFormat::Raw});
    if (!status.ok()) return Fail(status.message);
    const KS_BITMAPINFOHEADER& bitmap = stream.Format().VideoInfoHeader.bmiHeader;
    output.width = bitmap.biWidth;
    output.height = std::abs(bitmap.biHeight);
    output.pitch = uint32_t(bitmap.biWidth) * 4;
    output.bottomUp = bitmap.biHeight > 0;

    // Standard output may carry frames or the bus trace; the summary must not land among them.
    std::FILE* report = output.directory.empty() || global.usbTrace == "-" ? stderr : stdout;
    const bool progress = !global.quiet && isatty(STDERR_FILENO);
    const uint32_t stallLimit = StallLimitMs(session->Device().Camera());
    Tally tally;
    int exitCode = 0;
    {
        FrameWriter writer(output, frames, std::max(1u, std::thread::hardware_concurrency()));
        StopSignals signals;
        status = stream.Start();
        if (!status.ok()) return Fail(status.message);
        FrameLoops loops;
        loops.exposure.Enable(options.autoExposure);
        loops.whiteBalance.Enable(options.autoWhiteBalance);
        if (loops.Enabled()) {
            status =
                SettleLoops(stream, loops, filter, session->Device().Camera(), output, stallLimit);
            if (!status.ok())
                return Fail((options.autoExposure ? "settling the exposure: "
                                                  : "settling the white balance: ") +
                            status.message);
        }
        auto lastFrame = std::chrono::steady_clock::now();
        auto lastProgress = lastFrame;
        client::Status failure;
        while (tally.delivered < options.count && !StopSignals::Received()) {
            for (client::Frame* done : writer.TakeDone()) stream.Requeue(done);
            if (!writer.error().empty()) break;
            client::Frame* frame = nullptr;
            status = stream.Next(kPollMs, &frame);
            auto now = std::chrono::steady_clock::now();
            if (status.code == STATUS_TIMEOUT) {
                if (!session->Device().Connected()) {
                    failure = {STATUS_DEVICE_NOT_CONNECTED,
                               "the camera left the bus while streaming (unplugged?)"};
                    break;
                }
                if (now - lastFrame > std::chrono::milliseconds(stallLimit)) {
                    failure = {STATUS_TIMEOUT, "no frame from the camera for " +
                                                   std::to_string(stallLimit / 1000) + " s"};
                    break;
                }
                continue;
            }
            if (!status.ok()) {
                failure = status;
                break;
            }
            lastFrame = now;
            tally.Count(*frame);
            loops.Observe(Described(*frame, output), filter, session->Device().Camera());
            // A full queue holds the stream back: the pin drops what the camera sends meanwhile.
            const WriteJob job{frame, tally.delivered, stream.Raw(*frame)};
            while (!writer.Offer(job, kPollMs)) {
                for (client::Frame* done : writer.TakeDone()) stream.Requeue(done);
                if (!writer.error().empty() || StopSignals::Received()) {
                    stream.Requeue(frame);
                    break;
                }
            }
            if (progress && now - lastProgress > std::chrono::milliseconds(250)) {
                std::fprintf(stderr, "\rframes %u/%u  %.1f fps ", tally.delivered, options.count,
                             tally.Fps());
                lastProgress = now;
            }
        }
        client::Status stopped = stream.Stop();
        writer.Finish();
        if (progress) std::fprintf(stderr, "\r\033[K");
        if (!writer.error().empty()) {
            exitCode = Fail(writer.error());
        } else if (!failure.ok()) {
            exitCode = Fail(failure.message);
        } else if (!stopped.ok()) {
            exitCode = Fail(stopped.message);
        }
        if (!global.quiet) {
            PrintSummary(report, tally, writer.written(), {CpuSeconds(), DriverThreadCpuSeconds()});
        }
        if (StopSignals::Received() && exitCode == 0) exitCode = 128 + StopSignals::Received();
    }
    // The pin closes here; the session then closes the filter, which saves the settings, and
    // removes the camera.
    return exitCode;
}

}  // namespace

BAYERCAM_COMMAND(capture, [](CLI::App& app, const GlobalOptions& global, int& exitCode) {
    static CaptureOptions options;
    CLI::App* command = app.add_subcommand("capture", "Stream frames from the camera into files");
    command->add_option("-n,--count", options.count, "Frames to capture")
        ->check(CLI::Range(1u, 1000000u));
    command->add_flag("--overwrite", options.overwrite,
                      "Remove frame files an earlier capture left in the output folder");
    command->add_option("-o,--output", options.output,
                        "Directory for frame-NNNN files, or - for standard output");
    command
        ->add_option("--format", options.format,
                     "png: as seen; bgra: the frame bytes as delivered; raw: the camera's raw "
                     "frames as PGM")
        ->check(CLI::IsMember({"png", "bgra", "raw"}));
    command->add_option("--roi", options.roi, "Region of interest X,Y,W,H");
    command->add_option("--set", options.settings, "Setting NAME=VALUE before the stream starts");
    command->add_flag("--auto-exposure", options.autoExposure,
                      "Steer Exposure and GlobalGain toward a mid-grey image, settled before the "
                      "first frame is written");
    command->add_flag("--auto-white-balance", options.autoWhiteBalance,
                      "Steer RedGain and BlueGain until the image's greys are neutral, in place of "
                      "WhiteBalance, settled before the first frame is written");
    command->callback([&global, &exitCode] { exitCode = RunCapture(global, options); });
});

}  // namespace bayercam::tool
