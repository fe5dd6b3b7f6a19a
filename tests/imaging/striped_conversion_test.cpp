// Conversion in stripes on a worker pool, straight into a client-shaped image (bottom-up,
// mirrored, narrower than the frame), against the plain kernels on one thread into the packed
// output buffer: the same bytes and the same published gains.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "imaging/bayer_kernels.h"
#include "imaging/image_processor.h"
#include "imaging/worker_pool.h"
#include "imaging_fixture.h"

namespace bayercam::test {
namespace {

struct Shape {
    uint32_t width;
    uint32_t height;
    uint32_t clientWidth;  // pixels the client image takes from the left of each row
};

struct Layout {
    bool bottomUp;
    bool mirror;
};

struct Settings {
    int32_t colorEnable;  // 1 colour, 0 luminance
    int32_t whiteBalance;
    int32_t redGain;
    int32_t blueGain;
};

// A client image of `shape` and the destination that fills it.
struct ClientImage {
    std::vector<uint8_t> bytes;
    ImageDestination destination;

    ClientImage(const Shape& shape, const Layout& layout)
        : bytes(size_t{shape.clientWidth} * 4 * shape.height, 0xEE) {
        const auto pitch = static_cast<ptrdiff_t>(shape.clientWidth) * 4;
        uint8_t* top = bytes.data();
        destination = {layout.bottomUp ? top + (shape.height - 1) * pitch : top,
                       layout.bottomUp ? -pitch : pitch, shape.clientWidth, shape.height,
                       layout.mirror};
    }
};

// What the client image must hold: the packed image rearranged pixel by pixel.
std::vector<uint8_t> Rearranged(const std::vector<uint8_t>& packed, const Shape& shape,
                                const Layout& layout) {
    std::vector<uint8_t> out(size_t{shape.clientWidth} * 4 * shape.height);
    for (uint32_t row = 0; row < shape.height; ++row) {
        const uint32_t source = layout.bottomUp ? shape.height - 1 - row : row;
        for (uint32_t i = 0; i < shape.clientWidth; ++i) {
            const uint32_t x = layout.mirror ? shape.clientWidth - 1 - i : i;
            std::memcpy(&out[(size_t{row} * shape.clientWidth + i) * 4],
                        &packed[(size_t{source} * shape.width + x) * 4], 4);
        }
    }
    return out;
}

void Apply(ImageProcessor* p, BayerPhase phase, const Settings& s) {
    SetPipelineMode(p, static_cast<int32_t>(phase));
    SetColorEnable(p, s.colorEnable);
    SetAutoWhiteBalance(p, s.whiteBalance);
    SetRedGain(p, s.redGain);
    SetBlueGain(p, s.blueGain);
}

std::vector<int32_t> Gains(const ImageProcessor* p) {
    return {p->redGain.load(), p->greenGain.load(), p->blueGain.load()};
}

void ExpectMatch(const Shape& shape, BayerPhase phase, const Layout& layout,
                 const Settings& settings, WorkerPool* pool, const RawFrame& raw) {
    SizedProcessor plain(shape.width, shape.height);
    Apply(plain.get(), phase, settings);
    ConvertColorFrameWith(kScalarKernels, plain.get(), raw.pixels.data(), 0, shape.width);

    SizedProcessor striped(shape.width, shape.height);
    Apply(striped.get(), phase, settings);
    striped->workers = pool;
    ClientImage client(shape, layout);
    ASSERT_TRUE(ConvertColorFrameInto(striped.get(), raw.pixels.data(), 0, shape.width,
                                      client.destination));

    const std::string what =
        std::to_string(shape.width) + "x" + std::to_string(shape.height) + " phase " +
        std::to_string(static_cast<int>(phase)) + (layout.bottomUp ? " bottom-up" : "") +
        (layout.mirror ? " mirrored" : "") + (settings.colorEnable ? "" : " luma") +
        (settings.whiteBalance ? " balanced" : "") + " on " +
        std::to_string(pool ? pool->Threads() : 1) + " threads";
    EXPECT_TRUE(client.bytes == Rearranged(plain.output(), shape, layout)) << what;
    EXPECT_EQ(Gains(plain.get()), Gains(striped.get())) << what;
}

TEST(StripedConversion, MatchesPlainKernelsForEveryPhaseLayoutAndSetting) {
    // Bands of two rows and an odd last one (96 x 41), the narrowest frame taken in bands
    // (64 x 9), narrower ones taken whole (40 x 200).
    const Shape shapes[] = {{1021, 37, 1016}, {1360, 1, 1360}, {64, 9, 64}, {33, 8, 32},
                            {7, 5, 7},        {40, 200, 40},   {96, 41, 90}};
    const Layout layouts[] = {{false, false}, {true, false}, {false, true}, {true, true}};
    const Settings settings[] = {
        {1, 0, 128, 128}, {1, 1, 128, 128}, {0, 0, 200, 90}, {1, 0, 300, 50}, {0, 1, 128, 128}};
    WorkerPool one(1);
    WorkerPool three(3);
    WorkerPool* pools[] = {nullptr, &one, &three};
    std::mt19937 random(15);
    int round = 0;
    for (const Shape& shape : shapes) {
        const RawFrame raw = RandomFrame(shape.width, shape.height, random);
        for (BayerPhase phase : kAllPhases) {
            for (const Layout& layout : layouts) {
                const Settings& s = settings[round % std::size(settings)];
                ExpectMatch(shape, phase, layout, s, pools[round % std::size(pools)], raw);
                ++round;
                if (HasFailure()) return;
            }
        }
    }
}

TEST(StripedConversion, FullFrameOnTwoThreadsWithWhiteBalance) {
    std::mt19937 random(16);
    const Shape shape{1360, 1024, 1360};
    WorkerPool pool(1);
    ExpectMatch(shape, BayerPhase::RGGB, {true, true}, {1, 1, 128, 128}, &pool,
                RandomFrame(shape.width, shape.height, random));
}

TEST(StripedConversion, RefusesADestinationThatDoesNotFitTheFrame) {
    SizedProcessor processor(64, 16);
    const RawFrame raw = UniformFrame(64, 16, 9);
    struct Case {
        const char* name;
        Shape shape;
    } cases[] = {
        {"wider", {65, 16, 65}}, {"fewer rows", {64, 15, 64}}, {"more rows", {64, 17, 64}}};
    for (const Case& c : cases) {
        ClientImage client(c.shape, {false, false});
        EXPECT_FALSE(
            ConvertColorFrameInto(processor.get(), raw.pixels.data(), 0, 64, client.destination))
            << c.name;
        EXPECT_FALSE(
            ConvertGrayFrameInto(processor.get(), raw.pixels.data(), 0, 64, client.destination))
            << c.name;
        EXPECT_EQ(client.bytes, std::vector<uint8_t>(client.bytes.size(), 0xEE)) << c.name;
    }
}

TEST(StripedConversion, GrayIntoClientImage) {
    std::mt19937 random(17);
    const Shape shape{21, 6, 16};
    const RawFrame raw = RandomFrame(shape.width, shape.height, random);
    SizedProcessor packed(shape.width, shape.height);
    ConvertGrayFrame(packed.get(), raw.pixels.data(), 0, shape.width);
    for (const Layout& layout : {Layout{false, false}, Layout{true, true}, Layout{false, true}}) {
        SizedProcessor processor(shape.width, shape.height);
        ClientImage client(shape, layout);
        ASSERT_TRUE(ConvertGrayFrameInto(processor.get(), raw.pixels.data(), 0, shape.width,
                                         client.destination));
        EXPECT_TRUE(client.bytes == Rearranged(packed.output(), shape, layout))
            << layout.bottomUp << layout.mirror;
    }
}

}  // namespace
}  // namespace bayercam::test
