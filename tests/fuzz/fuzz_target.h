// The entry point every fuzz target defines. libFuzzer calls it with generated inputs; the corpus
// replay program calls it with every stored input.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
