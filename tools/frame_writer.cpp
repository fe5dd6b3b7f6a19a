#include "tools/frame_writer.h"

#include <cstdio>

#include "tools/image_files.h"

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

FrameWriter::FrameWriter(FrameOutput output, size_t capacity)
    : output_(std::move(output)), capacity_(capacity), thread_([this] { Run(); }) {}

FrameWriter::~FrameWriter() {
    Finish();
}

std::string FrameWriter::FileName(const FrameOutput& output, uint32_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "frame-%04u.%s", index, Extension(output.format));
    return output.directory + "/" + name;
}

bool FrameWriter::Offer(const WriteJob& job) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (finishing_ || queue_.size() >= capacity_) return false;
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
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
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
        // After a failure the rest is not written: the first error is what matters.
        bool failed = !error_.empty();
        lock.unlock();
        std::string error;
        bool ok = !failed && Write(job, &error);
        lock.lock();
        if (ok) written_++;
        if (!ok && !failed) error_ = error;
        done_.push_back(job.frame);
    }
}

bool FrameWriter::Write(const WriteJob& job, std::string* error) {
    if (output_.directory.empty()) {
        bool ok = WriteTo(stdout, job, error) && std::fflush(stdout) == 0;
        if (!ok && error->empty()) *error = "standard output: write failed";
        return ok;
    }
    return WriteFileWhole(
        FileName(output_, job.index),
        [&](std::FILE* out, std::string* failure) { return WriteTo(out, job, failure); }, error);
}

bool FrameWriter::WriteTo(std::FILE* out, const WriteJob& job, std::string* error) {
    const client::Frame& frame = *job.frame;
    switch (output_.format) {
        case FrameFileFormat::Png:
            return WritePng(out,
                            {frame.Data(), output_.width, output_.height, output_.pitch,
                             output_.bottomUp},
                            error);
        case FrameFileFormat::Bgra:
            if (std::fwrite(frame.Data(), 1, frame.Header().DataUsed, out) !=
                frame.Header().DataUsed) {
                *error = "BGRA: write failed";
                return false;
            }
            return true;
        case FrameFileFormat::Raw: {
            const client::RawImage* raw = job.raw;
            if (!raw || raw->stride <= 0 || raw->offset < 0 ||
                raw->bytes.size() < size_t(raw->offset)) {
                *error = "raw: no raw frame was kept for this frame";
                return false;
            }
            int32_t height = int32_t((raw->bytes.size() - size_t(raw->offset)) / size_t(raw->stride));
            return WritePgm(out, raw->bytes.data() + raw->offset, raw->stride, height,
                            uint32_t(raw->stride), error);
        }
    }
    return false;
}

}  // namespace bayercam::tool
