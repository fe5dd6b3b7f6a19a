// The process's one libusb context and the thread that handles its events. Everyone who needs
// libusb holds a reference; the last one to let go stops the thread and ends the context, so a
// process with no camera open has no libusb thread.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

struct libusb_context;

namespace bayercam {

class LibusbContext {
  public:
    // The current context, or a new one with its event thread. Null, with the reason in `error`,
    // when libusb cannot start (no usbfs, for one).
    static std::shared_ptr<LibusbContext> Acquire(std::string* error);

    // Must not run on the event thread: it waits for that thread to end.
    ~LibusbContext();
    LibusbContext(const LibusbContext&) = delete;
    LibusbContext& operator=(const LibusbContext&) = delete;

    libusb_context* get() const { return context_; }

  private:
    explicit LibusbContext(libusb_context* context);
    void HandleEvents();

    libusb_context* context_;
    std::atomic<bool> stopping_{false};
    std::thread eventThread_;
};

}  // namespace bayercam
