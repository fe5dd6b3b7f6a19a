// Writes delivered frames off the streaming path: threads of its own behind a bounded queue. A
// full queue holds the stream back (the caller waits for room), so every frame handed over is
// written; frames the camera delivers meanwhile are dropped at the stream, where they are
// counted.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bayercam/video_stream.h"

namespace bayercam::tool {

enum class FrameFileFormat {
    Png,   // the frame as a person would see it
    Bgra,  // the client frame's bytes as delivered
    Raw,   // the raw camera frame behind it, as PGM
};

struct FrameOutput {
    FrameFileFormat format = FrameFileFormat::Png;
    std::string directory;  // empty: everything goes to standard output, one file after another
    int digits = 4;         // of the frame numbers in the file names
    int32_t width = 0;      // of the client frames
    int32_t height = 0;     // rows, whatever the row order
    uint32_t pitch = 0;
    bool bottomUp = true;
};

struct WriteJob {
    client::Frame* frame;
    uint32_t index;               // 1 for the first delivered frame: names the file
    const client::RawImage* raw;  // for FrameFileFormat::Raw
};

class FrameWriter {
  public:
    // `threads` writers share the queue; standard output always gets one, to keep the order.
    FrameWriter(FrameOutput output, size_t capacity, unsigned threads);
    // Finishes the queued jobs.
    ~FrameWriter();
    FrameWriter(const FrameWriter&) = delete;
    FrameWriter& operator=(const FrameWriter&) = delete;

    // Takes the job once fewer than `capacity` jobs are waiting, waiting at most `waitMs` for
    // that; false when it did not take it (no room, or the writer failed or finished), and then
    // the frame stays the caller's.
    bool Offer(const WriteJob& job, uint32_t waitMs);
    // Frames written (or failed) since the last call, for the caller to queue again.
    std::vector<client::Frame*> TakeDone();
    // Writes what is queued, then stops the threads. Idempotent.
    void Finish();

    uint64_t written() const;
    // The first failure, empty while every write succeeded.
    std::string error() const;
    // The file name of frame `index` in `directory`.
    static std::string FileName(const FrameOutput& output, uint32_t index);

  private:
    void Run();
    bool Write(const WriteJob& job, std::string* error);
    bool WriteTo(std::FILE* out, const WriteJob& job, std::string* error);

    const FrameOutput output_;
    const size_t capacity_;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::condition_variable room_;
    std::deque<WriteJob> queue_;
    std::vector<client::Frame*> done_;
    bool finishing_ = false;
    uint64_t written_ = 0;
    std::string error_;
    std::vector<std::thread> threads_;
};

}  // namespace bayercam::tool
