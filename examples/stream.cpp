// Lists the camera's controls, then streams with automatic exposure and prints each frame's
// brightness as the exposure settles.
//
//     bayercam-stream [SELECTOR [FRAMES]]     (default: sim, 30)
#include <bayercam/bayercam.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace {

// The mean green level of every 16th pixel of every 16th row.
double MeanGreen(const bayercam::Frame& frame) {
    double sum = 0;
    int count = 0;
    for (uint32_t y = 0; y < frame.Height(); y += 16) {
        const uint8_t* row = frame.Data() + size_t(y) * size_t(frame.Stride());
        for (uint32_t x = 0; x < frame.Width(); x += 16, ++count) sum += row[x * 4 + 1];
    }
    return count ? sum / count : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const char* selector = argc > 1 ? argv[1] : "sim";
    const int frames = argc > 2 ? std::atoi(argv[2]) : 30;
    try {
        bayercam::Camera camera(selector);
        for (const bayercam::Control& control : camera.Controls()) {
            std::printf("%-16s %6d", control.name.c_str(), control.value);
            if (control.hasRange)
                std::printf("  [%d..%d, default %d]", control.minimum, control.maximum,
                            control.byDefault);
            std::printf("%s\n", control.writable ? "" : "  (read-only)");
        }
        camera.SetAutoExposure(true);
        camera.Start();
        for (int i = 0; i < frames; ++i) {
            bayercam::Frame frame = camera.NextFrame(std::chrono::milliseconds(5000));
            if (!frame) {
                std::fprintf(stderr, "bayercam-stream: no frame in time\n");
                return 1;
            }
            std::printf("frame %llu: %ux%u, green %.1f, exposure %d, gain %d\n",
                        static_cast<unsigned long long>(frame.Sequence()), frame.Width(),
                        frame.Height(), MeanGreen(frame), camera.GetControl("Exposure"),
                        camera.GetControl("GlobalGain"));
        }
        return 0;
    } catch (const bayercam::Error& error) {
        std::fprintf(stderr, "bayercam-stream: %s (%d)\n", error.what(), error.Code());
        return 1;
    }
}
