// Frame files an earlier capture left in an output folder: a new capture must not mix its
// frames with them.
#pragma once

#include <string>
#include <vector>

namespace bayercam::tool {

// The entries of `directory` named frame-* (finished or partly written frames of any format).
std::vector<std::string> EarlierFrameFiles(const std::string& directory);

// Removes them; false with `*error` naming the first that could not be removed.
bool RemoveEarlierFrameFiles(const std::string& directory, std::string* error);

}  // namespace bayercam::tool
