#include "tools/whole_file.h"

#include <cerrno>
#include <cstring>

namespace bayercam::tool {
namespace {

std::string SystemReason(const std::string& path) {
    return path + ": " + std::strerror(errno != 0 ? errno : EIO);
}

}  // namespace

bool WriteFileWhole(const std::string& path,
                    const std::function<bool(std::FILE*, std::string*)>& write,
                    std::string* error) {
    const std::string partial = path + ".part";
    std::FILE* out = std::fopen(partial.c_str(), "wb");
    if (!out) {
        *error = SystemReason(path);
        return false;
    }
    errno = 0;
    std::string reason;
    bool ok = write(out, &reason);
    if (!ok) *error = reason.empty() ? SystemReason(path) : path + ": " + reason;
    // Buffered bytes meet a full disk only here.
    if (std::fclose(out) != 0 && ok) {
        *error = SystemReason(path);
        ok = false;
    }
    if (ok && std::rename(partial.c_str(), path.c_str()) != 0) {
        *error = SystemReason(path);
        ok = false;
    }
    if (!ok) std::remove(partial.c_str());
    return ok;
}

}  // namespace bayercam::tool
