#include "platform/libusb/libusb_context.h"

#include <libusb.h>

#include <mutex>

namespace bayercam {
namespace {

// Guards the current context, and its creation and teardown, so that two never overlap.
std::mutex& ContextLock() {
    static std::mutex lock;
    return lock;
}

std::weak_ptr<LibusbContext>& CurrentContext() {
    static std::weak_ptr<LibusbContext> current;
    return current;
}

}  // namespace

std::shared_ptr<LibusbContext> LibusbContext::Acquire(std::string* error) {
    std::lock_guard<std::mutex> guard(ContextLock());
    if (std::shared_ptr<LibusbContext> current = CurrentContext().lock()) return current;
    libusb_context* context = nullptr;
    int result = libusb_init(&context);
    if (result != LIBUSB_SUCCESS) {
        *error = std::string("libusb cannot start: ") + libusb_strerror(result);
        return nullptr;
    }
    std::shared_ptr<LibusbContext> created(new LibusbContext(context));
    CurrentContext() = created;
    return created;
}

LibusbContext::LibusbContext(libusb_context* context)
    : context_(context), eventThread_([this] { HandleEvents(); }) {}

LibusbContext::~LibusbContext() {
    std::lock_guard<std::mutex> guard(ContextLock());
    // The interruption stays pending until the event thread sees it, so setting the flag first
    // cannot lose the wake-up even when the thread is just about to wait.
    stopping_.store(true);
    libusb_interrupt_event_handler(context_);
    eventThread_.join();
    libusb_exit(context_);
}

void LibusbContext::HandleEvents() {
    // Blocks in poll until a transfer, a hotplug event, a device close or the interruption above.
    while (!stopping_.load()) libusb_handle_events(context_);
}

}  // namespace bayercam
