#include "tools/frame_writer.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "imaging/pgm.h"
#include "tools/png_writer.h"
#include "tools/whole_file.h"

namespace bayercam::tool {
namespace {

const char* Extension(FrameFileFormat format) {
    switch (format) {
        case FrameFileFormat::Png:
            return "png";
        case FrameFileFormat::Bgra:
            return "bgra";
        case FrameFileFormat::Raw:
            return "pgm";
    }
    return "bin";
}

}  // namespace

FrameWriter::FrameWriter(FrameOutput output, size_t capacity, unsigned threads)
    : output_(std::move(output)), capacity_(capacity) {
    if (output_.directory.empty() || threads == 0) threads = 1;
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Run(); });
}

FrameWriter::~FrameWriter() {
    Finish();
}

std::string FrameWriter::FileName(const FrameOutput& output, uint32_t index) {
    char name[40];
    std::snprintf(name, sizeof name, "frame-%0*u.%s", output.digits, index,
                  Extension(output.format));
    return output.directory + "/" + name;
}

bool FrameWriter::Offer(const WriteJob& job, uint32_t waitMs) {
    {
        std::unique_lock<std::mutex> lock(lock_);
        auto stop = [&] { return finishing_ || !error_.empty(); };
        room_.wait_for(lock, std::chrono::milliseconds(waitMs),
                       [&] { return stop() || queue_.size() < capacity_; });
        if (stop() || queue_.size() >= capacity_) return false;
        queue_.push_back(job);
    }
    wake_.notify_one();
    return true;
}

std::vector<client::Frame*> FrameWriter::TakeDone() {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<client::Frame*> done;
    done.swap(done_);
    return done;
}

void FrameWriter::Finish() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        finishing_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_)
        if (thread.joinable()) thread.join();
}

uint64_t FrameWriter::written() const {
    std::lock_guard<std::mutex> guard(lock_);
    return written_;
}

std::string FrameWriter::error() const {
    std::lock_guard<std::mutex> guard(lock_);
    return error_;
}

void FrameWriter::Run() {
    std::unique_lock<std::mutex> lock(lock_);
    for (;;) {
        wake_.wait(lock, [&] { return finishing_ || !queue_.empty(); });
        if (queue_.empty()) return;  // finishing, and nothing left
        WriteJob job = queue_.front();
        queue_.pop_front();
        room_.notify_one();
        // After a failure the rest is not written: the first error is what matters.
        bool failed = !error_.empty();
        lock.unlock();
        std::string error;
        bool ok = !failed && Write(job, &error);
        lock.lock();
        if (ok) written_++;
        if (!ok && !failed) {
            error_ = error;
            room_.notify_all();
        }
        done_.push_back(job.frame);
    }
}

bool FrameWriter::Write(const WriteJob& job, std::string* error) {
    if (output_.directory.empty()) {
        errno = 0;
        bool ok = WriteTo(stdout, job, error) && std::fflush(stdout) == 0;
        if (!ok) *error = std::string("standard output: ") + std::strerror(errno ? errno : EIO);
        return ok;
    }
    return WriteFileWhole(
        FileName(output_, job.index),
        [&](std::FILE* out, std::string* failure) { return WriteTo(out, job, failure); }, error);
}

bool FrameWriter::WriteTo(std::FILE* out, const WriteJob& job, std::string* error) {
    const client::Frame& frame = *job.frame;
    switch (output_.format) {
        case FrameFileFormat::Png: {
            // A bottom-up frame is written from its last row, so that the picture is upright.
            const auto pitch = static_cast<ptrdiff_t>(output_.pitch);
            const uint8_t* top =
                output_.bottomUp ? frame.Data() + (output_.height - 1) * pitch : frame.Data();
            return WritePngBgra(out, top, uint32_t(output_.width), uint32_t(output_.height),
                                output_.bottomUp ? -pitch : pitch, error);
        }
        case FrameFileFormat::Bgra:
            return std::fwrite(frame.Data(), 1, frame.Header().DataUsed, out) ==
                   frame.Header().DataUsed;
        case FrameFileFormat::Raw: {
            const client::RawImage* raw = job.raw;
            if (!raw || raw->stride <= 0 || raw->offset < 0 ||
                raw->bytes.size() < size_t(raw->offset)) {
                *error = "raw: no raw frame was kept for this frame";
                return false;
            }
            PgmImage image;
            image.width = uint32_t(raw->stride);
            image.height = uint32_t((raw->bytes.size() - size_t(raw->offset)) / image.width);
            image.pixels.assign(
                raw->bytes.begin() + raw->offset,
                raw->bytes.begin() + raw->offset + size_t(image.width) * image.height);
            std::vector<uint8_t> bytes = FormatPgm(image);
            return std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
        }
    }
    return false;
}

}  // namespace bayercam::tool
