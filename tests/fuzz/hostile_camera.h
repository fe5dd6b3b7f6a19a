// A camera that answers the driver as the fuzz input says, built on the simulated camera's hooks:
// the input decides the response packets after each command (how many, how long, which bytes),
// the status and length of chosen transfers, how much of each frame chunk the image pipe fills,
// and the command at which the camera is unplugged. When the input runs out the camera behaves,
// so a short input attacks only the start of a phase.
//
// Input (each part read from the front; past its end every byte is 0):
//   byte:       split: the first split*rest/255 bytes after the faults are the response stream,
//               the others the image stream
//   byte:       faults (0-7), then 4 bytes each: endpoint and action, transfer number (1-256,
//               counted from Attach), length, status choice
//   2 bytes:    unplug at this command packet (0: never)
//   responses:  per command packet one byte c; 0 answers as the camera does, otherwise c & 3
//               packets follow, each a length byte (>= 0xC0: 64; else 0-96) and its bytes; with
//               c & 4 the first packet starts with the command's first six bytes, as an
//               acknowledgement does
//   image:      per chunk one byte b; < 0x80 fills the chunk, 0xFF leaves it unanswered until the
//               next frame request, else (b & 0x7F)/127 of it
// Frame requests are taken at most four a millisecond, as a frame rate bounds a real camera.
// At most one transfer per input goes unanswered, and only when the caller allows it: each
// costs a full time-out, where an answered input costs a few milliseconds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "fuzz/fuzz_camera.h"
#include "simcam/sim_camera.h"

namespace bayercam::fuzz {

class HostileCamera {
  public:
    HostileCamera(const uint8_t* data, size_t size, bool mayGoSilent);
    ~HostileCamera();
    HostileCamera(const HostileCamera&) = delete;
    HostileCamera& operator=(const HostileCamera&) = delete;

    // Forgets what an earlier run left armed or queued, then arms the faults and installs the
    // hooks. The camera must stay attached until Detach.
    void Attach(sim::SimCamera& camera);
    // Gives the camera back its ordinary answers and an image pipe that fills every chunk.
    void Detach();
    // True once the input unplugged the camera.
    bool Unplugged() const;

  private:
    struct Script;
    std::shared_ptr<Script> script_;  // shared with the hooks, which may outlive a detach
    sim::SimCamera* camera_ = nullptr;
};

}  // namespace bayercam::fuzz
