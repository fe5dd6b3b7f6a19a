#include "image_arrays.h"

#include <cstring>

namespace py = pybind11;

namespace bayercam::python {
namespace {

py::array OwningArray(std::vector<uint8_t>&& pixels, std::vector<py::ssize_t> shape) {
    auto* owned = new std::vector<uint8_t>(std::move(pixels));
    py::capsule release(owned, [](void* p) { delete static_cast<std::vector<uint8_t>*>(p); });
    return py::array_t<uint8_t>(shape, owned->data(), release);
}

}  // namespace

py::array BgraArray(std::vector<uint8_t>&& pixels, uint32_t width, uint32_t height) {
    return OwningArray(std::move(pixels), {py::ssize_t(height), py::ssize_t(width), 4});
}

py::array GrayArray(std::vector<uint8_t>&& pixels, uint32_t width, uint32_t height) {
    return OwningArray(std::move(pixels), {py::ssize_t(height), py::ssize_t(width)});
}

std::vector<uint8_t> PackRows(const uint8_t* data, size_t rowBytes, uint32_t rows, int64_t stride) {
    std::vector<uint8_t> packed(rowBytes * rows);
    if (int64_t(rowBytes) == stride) {
        std::memcpy(packed.data(), data, packed.size());
        return packed;
    }
    for (uint32_t row = 0; row < rows; ++row)
        std::memcpy(packed.data() + row * rowBytes, data + int64_t(row) * stride, rowBytes);
    return packed;
}

}  // namespace bayercam::python
