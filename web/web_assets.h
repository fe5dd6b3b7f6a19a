// The page's files, built into the program.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace bayercam::web {

struct EmbeddedFile {
    const char* name;  // "index.html", "app.js", ...
    const unsigned char* data;
    size_t size;
};

std::span<const EmbeddedFile> EmbeddedFiles();

// The file by name, null when there is none.
const EmbeddedFile* FindEmbeddedFile(std::string_view name);

// The Content-Type a file is served with, by its extension.
const char* ContentTypeOf(std::string_view name);

}  // namespace bayercam::web
