#include "web/web_assets.h"

namespace bayercam::web {

const EmbeddedFile* FindEmbeddedFile(std::string_view name) {
    for (const EmbeddedFile& file : EmbeddedFiles())
        if (name == file.name) return &file;
    return nullptr;
}

const char* ContentTypeOf(std::string_view name) {
    if (name.ends_with(".html")) return "text/html; charset=utf-8";
    if (name.ends_with(".css")) return "text/css; charset=utf-8";
    if (name.ends_with(".js")) return "text/javascript; charset=utf-8";
    return "application/octet-stream";
}

}  // namespace bayercam::web
