#include "imaging_fixture.h"

#include <algorithm>

#include "platform/kernel/pool.h"

namespace bayercam::test {

DefaultDevice::DefaultDevice() : device_(PoolNew<CameraDevice>()) {
    device_->pipelineMode = 2;
    device_->colorEnable = 1;
    device_->redGain = 128;
    device_->greenGain = 128;
    device_->blueGain = 128;
    device_->colorCorrection = 1;
    device_->brightness = 255;
    device_->contrast = 10;
    device_->saturation = 10;
}

DefaultDevice::~DefaultDevice() {
    PoolDelete(device_);
}

RawFrame RandomFrame(uint32_t width, uint32_t height, std::mt19937& random) {
    RawFrame frame{width, height, std::vector<uint8_t>(size_t{width} * height)};
    std::uniform_int_distribution<int> byte(0, 255);
    for (uint8_t& p : frame.pixels) p = static_cast<uint8_t>(byte(random));
    return frame;
}

RawFrame UniformFrame(uint32_t width, uint32_t height, uint8_t value) {
    return RawFrame{width, height, std::vector<uint8_t>(size_t{width} * height, value)};
}

RawFrame MosaicFrame(uint32_t width, uint32_t height, BayerPhase phase, uint8_t red, uint8_t green,
                     uint8_t blue) {
    // Even-row and odd-row site colours per phase, as 'R', 'G', 'B'.
    static constexpr char kRows[4][2][3] = {{"GR", "BG"}, {"BG", "GR"}, {"RG", "GB"}, {"GB", "RG"}};
    RawFrame frame = UniformFrame(width, height, 0);
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            const char site = kRows[static_cast<int>(phase)][y & 1][x & 1];
            frame.at(x, y) = site == 'R' ? red : site == 'G' ? green : blue;
        }
    }
    return frame;
}

SizedProcessor::SizedProcessor(uint32_t width, uint32_t height)
    : output_(size_t{width} * height * 4) {
    DefaultDevice device;
    processor_ = CreateImageProcessor(device.get());
    SetFrameSize(processor_, width, height);
    AllocateWorkBuffer(processor_);
    processor_->outputBuffer = output_.data();
    processor_->outputCursor = output_.data();
}

SizedProcessor::~SizedProcessor() {
    FreeImageProcessor(processor_);
}

void SizedProcessor::Pad(const RawFrame& frame) {
    PadRawFrame(processor_, frame.pixels.data(), 0, frame.width);
    processor_->outputCursor = output_.data();
}

void SizedProcessor::SetFrameGains(int32_t red, int32_t green, int32_t blue) {
    processor_->frameRedGain = red;
    processor_->frameGreenGain = green;
    processor_->frameBlueGain = blue;
}

void SizedProcessor::SetFrameMatrix(const int32_t (&matrix)[16]) {
    for (int k = 0; k < 16; ++k) {
        processor_->frameMatrix[k] = matrix[k];
        processor_->matrixPositive[k] = matrix[k] > 0 ? 1 : 0;
    }
}

const uint8_t* SizedProcessor::Pixel(uint32_t x, uint32_t y) const {
    return output_.data() + (size_t{y} * processor_->width + x) * 4;
}

}  // namespace bayercam::test
