# cmake -DOUTPUT=file.cpp -DINPUTS=a,b -P embed_assets.cmake: writes the files as byte arrays
# with a table of them by name, for web_assets.h.
string(REPLACE "," ";" INPUTS "${INPUTS}")
set(arrays "")
set(table "")
set(index 0)
foreach(input IN LISTS INPUTS)
    get_filename_component(name ${input} NAME)
    file(READ ${input} hex HEX)
    string(LENGTH "${hex}" hex_length)
    math(EXPR size "${hex_length} / 2")
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
    string(APPEND arrays "const unsigned char kAsset${index}[] = {\n${bytes}0};\n")
    string(APPEND table "    {\"${name}\", kAsset${index}, ${size}},\n")
    math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}.tmp "// Generated from web/assets by embed_assets.cmake.
#include \"web/web_assets.h\"

namespace bayercam::web {
namespace {
${arrays}
const EmbeddedFile kFiles[] = {
${table}};
}  // namespace

std::span<const EmbeddedFile> EmbeddedFiles() { return kFiles; }

}  // namespace bayercam::web
")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
