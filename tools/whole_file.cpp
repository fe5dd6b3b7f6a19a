#include "tools/whole_file.h"

#include <cerrno>
#include <cstring>

namespace bayercam::tool {

bool WriteFileWhole(const std::string& path,
                    const std::function<bool(std::FILE*, std::string*)>& write,
                    std::string* error) {
    const std::string partial = path + ".part";
    std::FILE* out = std::fopen(partial.c_str(), "wb");
    if (!out) {
        *error = partial + ": " + std::strerror(errno);
        return false;
    }
    bool ok = write(out, error);
    if (std::fclose(out) != 0 && ok) {
        *error = partial + ": " + std::strerror(errno);
        ok = false;
    }
    if (ok && std::rename(partial.c_str(), path.c_str()) != 0) {
        *error = path + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok) std::remove(partial.c_str());
    return ok;
}

}  // namespace bayercam::tool
