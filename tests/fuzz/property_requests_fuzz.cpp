// Property requests as a client sends them to the capture filter: any set, id and flags, any
// property and data buffer sizes, any content. Every buffer has its exact size.
//
// Input: selector byte (bit 0: the camera's control set, else the GUID from the input), id (1
// byte, or 4 with bit 1), flags (bits 2-3: get, set, both, or 4 bytes from the input), property
// buffer size (1 byte), data buffer size (2 bytes), then the buffers' content, repeated.
#include <algorithm>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_camera.h"
#include "fuzz/fuzz_target.h"
#include "platform/ks/ks_property.h"
#include "props/control_requests.h"

namespace {

// Reads the input from the front; past its end every byte is 0.
class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint32_t Take(size_t bytes) {
        uint32_t value = 0;
        for (size_t i = 0; i < bytes; ++i) value |= uint32_t{Byte()} << (8 * i);
        return value;
    }
    void Fill(uint8_t* out, size_t bytes) {
        size_t have = std::min(bytes, size_ - offset_);
        if (have > 0) std::memcpy(out, data_ + offset_, have);
        std::memset(out + have, 0, bytes - have);
        offset_ += have;
    }
    bool Done() const { return offset_ >= size_; }

  private:
    uint8_t Byte() { return offset_ < size_ ? data_[offset_++] : 0; }
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
};

// Runs the whole start-up sequence, 659 packets: inputs that set it again and again spent most of
// the run on it, for no code the first time did not reach.
constexpr uint32_t kReinitializeId = 67;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace bayercam;
    fuzz::FuzzCamera& camera = fuzz::TheCamera();
    Reader input(data, size);
    bool reinitialised = false;
    for (int request = 0; request < 8 && !input.Done(); ++request) {
        const uint32_t selector = input.Take(1);
        GUID set = ControlPropertySetId;
        if (!(selector & 1)) input.Fill(reinterpret_cast<uint8_t*>(&set), sizeof set);
        const uint32_t id = input.Take((selector & 2) ? 4 : 1);
        uint32_t flags;
        switch ((selector >> 2) & 3) {
            case 0:
                flags = KSPROPERTY_TYPE_GET;
                break;
            case 1:
                flags = KSPROPERTY_TYPE_SET;
                break;
            case 2:
                flags = KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET;
                break;
            default:
                flags = input.Take(4);
        }
        if (set == ControlPropertySetId && id == kReinitializeId && (flags & KSPROPERTY_TYPE_SET)) {
            if (reinitialised) flags &= ~KSPROPERTY_TYPE_SET;
            reinitialised = true;
        }
        const uint32_t propertyBytes = input.Take(1);
        const uint32_t dataBytes = input.Take(2) % 512;
        std::unique_ptr<uint8_t[]> property(new uint8_t[propertyBytes]);
        std::unique_ptr<uint8_t[]> buffer(new uint8_t[dataBytes]);
        input.Fill(property.get(), propertyBytes);
        input.Fill(buffer.get(), dataBytes);
        // The header as far as the buffer holds it, as a client fills it in.
        KSPROPERTY header{set, id, flags};
        std::memcpy(property.get(), &header, std::min<size_t>(propertyBytes, sizeof header));
        // Bit 4: the data buffer is the property buffer, as clients usually pass one record.
        const bool shared = (selector & 0x10) != 0;
        uint32_t returned = 0;
        KsFilterProperty(camera.filter, property.get(), propertyBytes,
                         shared ? property.get() : buffer.get(), shared ? propertyBytes : dataBytes,
                         &returned);
    }
    fuzz::FinishInput(camera);
    return 0;
}
