// Files that appear under their final name only once complete.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace bayercam::tool {

// Writes PATH.part through `write`, then renames it to PATH: an interrupted write or a full disk
// leaves no file under the final name, and no PATH.part. A `write` that fails without a reason
// of its own gets the system's (e.g. "No space left on device").
bool WriteFileWhole(const std::string& path,
                    const std::function<bool(std::FILE*, std::string*)>& write, std::string* error);

}  // namespace bayercam::tool
