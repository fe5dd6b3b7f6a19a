#include "web/frame_hub.h"

#include <cstring>

namespace bayercam::web {
namespace {

constexpr size_t kRateWindow = 30;

}  // namespace

LiveFrame::LiveFrame(std::vector<uint8_t> pixels, uint32_t width, uint32_t height, uint64_t serial)
    : pixels_(std::move(pixels)), width_(width), height_(height), serial_(serial) {}

const std::string& LiveFrame::Jpeg(size_t level) const {
    std::lock_guard guard(encodeLock_);
    if (!jpeg_[level])
        jpeg_[level] = EncodeJpeg(Image(), kJpegLevels[level].quality, kJpegLevels[level].shrink);
    return *jpeg_[level];
}

void FrameHub::Publish(const uint8_t* data, uint32_t width, uint32_t height, int32_t stride,
                       uint64_t timestampNs, uint32_t dropped) {
    const size_t rowBytes = size_t{width} * 4;
    std::vector<uint8_t> pixels(rowBytes * height);
    for (uint32_t y = 0; y < height; ++y)
        std::memcpy(&pixels[y * rowBytes], data + ptrdiff_t{y} * stride, rowBytes);

    std::lock_guard guard(lock_);
    // A restarted stream (a new region) starts its clock again.
    if (!recentTimes_.empty() && timestampNs <= recentTimes_.back()) recentTimes_.clear();
    recentTimes_.push_back(timestampNs);
    if (recentTimes_.size() > kRateWindow) recentTimes_.pop_front();
    if (recentTimes_.size() > 1)
        stats_.fps = 1e9 * static_cast<double>(recentTimes_.size() - 1) /
                     static_cast<double>(recentTimes_.back() - recentTimes_.front());
    stats_.delivered++;
    stats_.dropped += dropped;
    stats_.width = width;
    stats_.height = height;
    latest_ = std::make_shared<const LiveFrame>(std::move(pixels), width, height, stats_.delivered);
    published_.notify_all();
}

std::shared_ptr<const LiveFrame> FrameHub::Latest() const {
    std::lock_guard guard(lock_);
    return latest_;
}

std::shared_ptr<const LiveFrame> FrameHub::WaitNewer(uint64_t seen,
                                                     std::chrono::milliseconds timeout) const {
    std::unique_lock guard(lock_);
    bool ready = published_.wait_for(
        guard, timeout, [&] { return closed_ || (latest_ && latest_->Serial() > seen); });
    if (!ready || closed_) return nullptr;
    return latest_;
}

void FrameHub::Close() {
    std::lock_guard guard(lock_);
    closed_ = true;
    published_.notify_all();
}

bool FrameHub::Closed() const {
    std::lock_guard guard(lock_);
    return closed_;
}

LiveStats FrameHub::Stats() const {
    std::lock_guard guard(lock_);
    return stats_;
}

}  // namespace bayercam::web
