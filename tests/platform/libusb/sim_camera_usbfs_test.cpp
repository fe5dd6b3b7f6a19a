// The simulated camera behind an emulated usbfs node, driven through the real libusb, the libusb
// backend and the driver: what a real camera on the bus would see, and what the tool makes of it.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "api/library/camera_session.h"
#include "bayercam/camera.h"
#include "camera/frame_timeout.h"
#include "core/camera_device.h"
#include "platform/libusb/usb_device_list.h"
#include "platform/libusb/usbfs_device.h"
#include "simcam/file_scene.h"
#include "simcam/image_stream.h"
#include "simcam/sim_camera.h"
#include "usb/frame_read.h"
#include "usb/frame_timeout.h"
#include "usb/internal_request.h"

namespace bayercam::test {
namespace {

namespace fs = std::filesystem;
using sim::kFrameBytes;
using sim::kImageEndpoint;

// Long enough that a read which should finish never reaches it.
constexpr uint32_t kGenerousTimeoutMs = 20'000;
// The shortest frame time-out the driver accepts, for the reads that are meant to time out.
constexpr uint32_t kShortTimeoutMs = 501;
// Where the camera sits: bus path 1-4, node /dev/bus/usb/001/009.
const UsbfsPlacement kPlacement{1, {4}, 9};
constexpr const char* kBusPath = "1-4";
constexpr const char* kNode = "/dev/bus/usb/001/009";
constexpr const char* kIds = "1209:0001";

std::vector<uint8_t> Pattern() {
    std::vector<uint8_t> frame(kFrameBytes);
    for (uint32_t i = 0; i < kFrameBytes; ++i) frame[i] = static_cast<uint8_t>(i % 251);
    return frame;
}

struct ToolRun {
    int exitCode = -1;
    std::string output;  // standard output and error together
};

ToolRun RunTool(const std::string& arguments, const std::string& prefix = "") {
    ToolRun run;
    std::string command = prefix + " " + BAYERCAM_TOOL + " " + arguments + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return run;
    char chunk[256];
    while (size_t n = fread(chunk, 1, sizeof chunk, pipe)) run.output.append(chunk, n);
    int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string ReadWhole(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Waits for `done`, polling; the bound only keeps a broken run from hanging.
template <typename Done>
bool Eventually(Done done) {
    for (int i = 0; i < 3000; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

class ScratchDir {
  public:
    ScratchDir() {
        char name[] = "/tmp/bayercam-libusb-XXXXXX";
        path_ = mkdtemp(name) ? name : "";
    }
    ~ScratchDir() {
        std::error_code ignored;
        if (!path_.empty()) fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

class SimCameraUsbfsTest : public ::testing::Test {
  protected:
    void TearDown() override {
        opened_.reset();
        node_.reset();
        images_.reset();
        SetFrameTimeoutMs(kDefaultFrameTimeoutMs);
    }

    // The camera on the bus with `scene` at `fps` frames a second (0: as fast as read).
    void Plug(std::unique_ptr<sim::Scene> scene, double fps) {
        images_ = std::make_unique<sim::SimImageStream>(camera_, std::move(scene), fps);
        node_ = std::make_unique<UsbfsDevice>(testbed_, camera_, kPlacement);
    }
    void PlugPattern() { Plug(std::make_unique<sim::FileScene>(Pattern()), 0); }

    // Opens it as the tool does for --usb, and starts the driver over it.
    void OpenThroughLibusb() {
        UsbDeviceSelector selector;
        std::string error;
        ASSERT_TRUE(ParseUsbDeviceSelector(kIds, "", &selector, &error)) << error;
        UsbOpenResult usb = OpenUsbCamera(selector);
        ASSERT_TRUE(usb.backend) << usb.error;
        EXPECT_EQ(usb.device.busPath, kBusPath);
        ASSERT_TRUE(client::Camera::Open(std::move(usb.backend), &opened_).ok());
        ASSERT_EQ(opened_->StartStatus(), STATUS_SUCCESS);
    }
    CameraDevice* device() { return opened_->Record(); }

    // A frame read as the capture thread makes it, with `timeoutMs` as the driver's bound.
    bool Read(uint32_t timeoutMs) {
        SetFrameTimeout(device(), timeoutMs);
        buffer_.assign(kFrameBytes, 0xEE);
        bool ok = false;
        ReadFrame(device(), buffer_.data(), &ok);
        return ok;
    }

    UsbfsTestbed testbed_;
    sim::SimCamera camera_;
    std::unique_ptr<sim::SimImageStream> images_;  // attached to camera_
    std::unique_ptr<UsbfsDevice> node_;
    std::unique_ptr<client::Camera> opened_;
    std::vector<uint8_t> buffer_;
};

TEST_F(SimCameraUsbfsTest, StartsWithTheSameTrafficAsInProcess) {
    std::vector<std::vector<uint8_t>> expected;
    std::vector<uint32_t> expectedSensor;
    {
        auto inProcess = std::make_unique<sim::SimCamera>();
        sim::SimCamera* camera = inProcess.get();
        std::unique_ptr<client::Camera> opened;
        ASSERT_TRUE(client::Camera::Open(std::move(inProcess), &opened).ok());
        ASSERT_EQ(opened->StartStatus(), STATUS_SUCCESS);
        expected = camera->ReceivedCommands();
        for (int i = 0; i < sim::kSensorRegisters; ++i)
            expectedSensor.push_back(camera->SensorRegister(i));
    }
    ASSERT_FALSE(expected.empty());
    PlugPattern();
    OpenThroughLibusb();
    EXPECT_EQ(camera_.Configuration(), 1);
    EXPECT_EQ(camera_.ReceivedCommands(), expected);
    std::vector<uint32_t> sensor;
    for (int i = 0; i < sim::kSensorRegisters; ++i) sensor.push_back(camera_.SensorRegister(i));
    EXPECT_EQ(sensor, expectedSensor);
    UsbfsCounters counters = node_->Counters();
    EXPECT_EQ(counters.claims - counters.releases, 1);
    EXPECT_TRUE(counters.unknownRequests.empty());
    EXPECT_EQ(counters.urbType.count(kImageEndpoint), 0u);  // nothing read from the image pipe

    // The stop unconfigures the camera and lets go of the interface.
    opened_.reset();
    EXPECT_EQ(camera_.Configuration(), 0);
    counters = node_->Counters();
    EXPECT_EQ(counters.claims, counters.releases);
}

TEST_F(SimCameraUsbfsTest, TimedOutReadIsCancelledAndTheNextOneArrivesWhole) {
    PlugPattern();
    OpenThroughLibusb();
    device()->rawFrameBytes.store(kFrameBytes);
    ASSERT_TRUE(Read(kGenerousTimeoutMs));
    EXPECT_TRUE(buffer_ == Pattern());
    const int discardedBefore = node_->Counters().discarded;

    images_->AddFault({images_->FramesStarted() + 1, sim::SimFrameFaultAction::Silent});
    EXPECT_FALSE(Read(kShortTimeoutMs));
    // Every chunk was cancelled down to the device and came back before the read returned.
    EXPECT_EQ(node_->Counters().discarded - discardedBefore, 22);
    EXPECT_EQ(node_->PendingUrbs(), 0u);
    EXPECT_EQ(device()->chunkTable, nullptr);

    ASSERT_TRUE(Read(kGenerousTimeoutMs));
    EXPECT_TRUE(buffer_ == Pattern());
}

TEST_F(SimCameraUsbfsTest, StalledImagePipeRecoversThroughThePipeReset) {
    PlugPattern();
    OpenThroughLibusb();
    device()->rawFrameBytes.store(kFrameBytes);
    camera_.AddFault({kImageEndpoint, 1, sim::SimFaultAction::Stall});
    // Every chunk ends with the stall at once: the read fails without waiting for its time-out
    // and resets the pipe on its way out.
    EXPECT_FALSE(Read(kGenerousTimeoutMs));
    EXPECT_EQ(node_->PendingUrbs(), 0u);
    EXPECT_EQ(camera_.HaltsCleared(kImageEndpoint), 1);
    EXPECT_EQ(node_->Counters().clearHalts, 1);
    ASSERT_TRUE(Read(kGenerousTimeoutMs));
    EXPECT_TRUE(buffer_ == Pattern());
}

TEST_F(SimCameraUsbfsTest, PortResetReachesTheCameraAndKeepsItUsable) {
    PlugPattern();
    OpenThroughLibusb();
    device()->rawFrameBytes.store(kFrameBytes);
    EXPECT_EQ(
        SendInternalRequest(device()->usb.lowerDevice, IOCTL_INTERNAL_USB_RESET_PORT, nullptr),
        STATUS_SUCCESS);
    EXPECT_EQ(camera_.PortResets(), 1);
    EXPECT_EQ(node_->Counters().resets, 1);
    ASSERT_TRUE(Read(kGenerousTimeoutMs));
    EXPECT_TRUE(buffer_ == Pattern());
}

// ---- The tool against the emulated node ----

TEST_F(SimCameraUsbfsTest, CaptureThroughLibusbIsByteIdenticalToTheSimulatedCamera) {
    ScratchDir scratch;
    ASSERT_FALSE(scratch.path().empty());
    // One still picture on both sides: which frames a slow run drops then changes nothing. Its
    // bytes differ between any two offsets a whole number of chunks apart, so a chunk out of
    // place shows.
    const fs::path picture = scratch.path() / "scene.pgm";
    {
        std::ofstream file(picture, std::ios::binary);
        file << "P5\n" << sim::kFrameWidth << " " << sim::kFrameHeight << "\n255\n";
        const std::vector<uint8_t> pixels = Pattern();
        file.write(reinterpret_cast<const char*>(pixels.data()), std::streamsize(pixels.size()));
    }
    std::string error;
    std::unique_ptr<sim::Scene> scene = sim::MakeScene("file:" + picture.string(), 1, &error);
    ASSERT_TRUE(scene) << error;
    Plug(std::move(scene), 30);

    for (const char* format : {"raw", "bgra"}) {
        SCOPED_TRACE(format);
        const fs::path simOut = scratch.path() / (std::string("sim-") + format);
        const fs::path usbOut = scratch.path() / (std::string("usb-") + format);
        const std::string common =
            std::string(" -q capture -n 3 --format ") + format + " --set Exposure=400 -o ";
        ToolRun simulated =
            RunTool("--settings-dir " + (scratch.path() / "sim").string() +
                    " --sim --sim-scene file:" + picture.string() + common + simOut.string());
        ASSERT_EQ(simulated.exitCode, 0) << simulated.output;
        const fs::path trace = scratch.path() / (std::string(format) + ".pcap");
        ToolRun usb =
            RunTool("--settings-dir " + (scratch.path() / "usb").string() + " --usb-trace " +
                    trace.string() + " --usb " + kIds + common + usbOut.string());
        ASSERT_EQ(usb.exitCode, 0) << usb.output;

        size_t files = 0;
        for (const fs::directory_entry& entry : fs::directory_iterator(simOut)) {
            ++files;
            const fs::path twin = usbOut / entry.path().filename();
            ASSERT_TRUE(fs::exists(twin)) << twin;
            EXPECT_TRUE(ReadWhole(entry.path()) == ReadWhole(twin)) << twin;
        }
        EXPECT_EQ(files, 3u);
        EXPECT_GT(fs::file_size(trace), 100'000u);  // the transfers of the start and the frames
    }
    // Without a serial number the camera's settings are kept under its bus path.
    const std::string saved =
        ReadWhole(scratch.path() / "usb" / "path-1-4" / "Settings" / "values");
    EXPECT_NE(saved.find("Exposure = dword:400"), std::string::npos) << saved;
}

TEST_F(SimCameraUsbfsTest, UnplugWhileTheToolStreamsFailsTheCaptureAndSavesTheSettings) {
    ScratchDir scratch;
    Plug(std::make_unique<sim::FileScene>(Pattern()), 30);
    ToolRun run;
    std::thread tool([&] {
        run = RunTool("--settings-dir " + scratch.path().string() + " --usb-path " + kBusPath +
                      " -q capture -n 100000 --format raw --set Exposure=300 -o " +
                      (scratch.path() / "frames").string());
    });
    EXPECT_TRUE(Eventually([&] { return images_->FramesStarted() >= 3; }));
    node_->Unplug();
    tool.join();
    EXPECT_EQ(run.exitCode, 1) << run.output;
    EXPECT_NE(run.output.find("the camera left the bus while streaming"), std::string::npos)
        << run.output;
    const std::string saved = ReadWhole(scratch.path() / "path-1-4" / "Settings" / "values");
    EXPECT_NE(saved.find("Exposure = dword:300"), std::string::npos) << saved;
}

struct RefusalCase {
    const char* name;
    void (*prepare)(UsbfsDevice& node);
    const char* prefix;  // runs the tool without root's file override for the permission case
    const char* selection;
    std::vector<std::string> says;
};

class ToolRefusalTest : public SimCameraUsbfsTest,
                        public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ToolRefusalTest, SaysWhyAndWhatToDo) {
    const RefusalCase& c = GetParam();
    PlugPattern();
    if (c.prepare) c.prepare(*node_);
    ScratchDir scratch;
    ToolRun run = RunTool("--settings-dir " + scratch.path().string() + " " + c.selection + " info",
                          c.prefix);
    EXPECT_EQ(run.exitCode, 1) << run.output;
    for (const std::string& text : c.says)
        EXPECT_NE(run.output.find(text), std::string::npos) << run.output;
    EXPECT_EQ(camera_.ReceivedCommands().size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, ToolRefusalTest,
    ::testing::Values(
        RefusalCase{"NoSuchDevice",
                    nullptr,
                    "",
                    "--usb dead:beef",
                    {"no USB device dead:beef is attached", "bayercam list"}},
        RefusalCase{
            "NoSuchSocket", nullptr, "", "--usb-path 1-5", {"no USB device at 1-5 is attached"}},
        RefusalCase{"Busy",
                    [](UsbfsDevice& node) { node.SetClaimedElsewhere(true); },
                    "",
                    "--usb 1209:0001",
                    {"1-4 (1209:0001)", "claimed by another driver or process"}},
        RefusalCase{"PermissionDenied",
                    [](UsbfsDevice& node) { node.DenyAccess(); },
                    "setpriv --bounding-set -dac_override,-dac_read_search --",
                    "--usb-path 1-4",
                    {std::string("permission denied on ") + kNode, "udev/60-bayercam.rules.in"}},
        RefusalCase{"NothingChosen", nullptr, "", "", {"--usb VID:PID", "--sim"}},
        RefusalCase{"TwoCamerasChosen",
                    nullptr,
                    "",
                    "--sim --usb 1209:0001",
                    {"--sim and --usb/--usb-path"}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Which settings folder a real camera gets ----

TEST(SettingsInstanceTest, SerialNumberElseBusPathAsOneFolderName) {
    UsbfsTestbed emptyBus;
    struct Case {
        const char* serial;
        const char* busPath;
        const char* id;
    };
    const Case cases[] = {
        {"A1B2C3", "1-3.1", "serial-A1B2C3"},
        {"", "1-3.1", "path-1-3.1"},
        {"../x/y z:\\", "1-2", "serial-.._x_y_z__"},
        {"sim", "1-2", "serial-sim"},
    };
    for (const Case& c : cases) {
        UsbDeviceInfo device;
        device.serial = c.serial;
        device.busPath = c.busPath;
        EXPECT_EQ(library::SettingsInstanceId(device), c.id) << c.serial;
    }
    UsbDeviceInfo longSerial;
    longSerial.serial.assign(1000, 'S');
    EXPECT_EQ(library::SettingsInstanceId(longSerial).size(), 128u);

    // A camera that is not attached is found by its serial number alone.
    library::CameraChoice choice;
    choice.kind = library::CameraChoice::Kind::Usb;
    choice.usbDevice = "1209:0001:A1B2C3";
    std::string id, error;
    EXPECT_TRUE(library::FindSettingsInstance(choice, &id, &error)) << error;
    EXPECT_EQ(id, "serial-A1B2C3");
    choice.usbDevice = "1209:0001";
    EXPECT_FALSE(library::FindSettingsInstance(choice, &id, &error));
    EXPECT_NE(error.find("not attached"), std::string::npos) << error;
}

}  // namespace
}  // namespace bayercam::test
