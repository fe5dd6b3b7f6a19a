// NumPy arrays over pixel buffers the module made: the array owns its buffer, freed with it.
#pragma once

#include <pybind11/numpy.h>

#include <cstdint>
#include <vector>

namespace bayercam::python {

// A (height, width, 4) uint8 BGRA array over packed rows, top row first.
pybind11::array BgraArray(std::vector<uint8_t>&& pixels, uint32_t width, uint32_t height);
// A (height, width) uint8 array over packed rows.
pybind11::array GrayArray(std::vector<uint8_t>&& pixels, uint32_t width, uint32_t height);

// Packed rows of `rowBytes` from `rows` rows `stride` apart.
std::vector<uint8_t> PackRows(const uint8_t* data, size_t rowBytes, uint32_t rows, int64_t stride);

}  // namespace bayercam::python
