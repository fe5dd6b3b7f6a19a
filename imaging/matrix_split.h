// A frame's colour matrix split into the positive and negative sums the kernels form, and the
// cheapest vector form that computes those sums exactly.
#pragma once

#include <cstdint>

namespace bayercam {

struct ImageProcessor;

// For output channel k (0 red, 1 green, 2 blue) and input channel i: the coefficient's
// magnitude goes to `positive` when its sign flag is set, else to `negative` (the other is 0).
struct MatrixSplit {
    uint32_t positive[3][3];  // [output][input]
    uint32_t negative[3][3];
    uint32_t positiveConstant[3];
    uint32_t negativeConstant[3];
};

// From frameMatrix and matrixPositive.
MatrixSplit SplitFrameMatrix(const ImageProcessor* processor);

enum class MatrixForm {
    kDiagonal16,  // as kShort16, with only the diagonal coefficients positive
    kShort16,     // every positive and negative sum below 2^16: 16-bit lanes
    kPairs,       // coefficients below 2^15: pairwise 16 x 16 -> 32-bit products
    kWide,        // coefficients up to 2^22: 32-bit products, sums still below 2^32
    kExact,       // larger: only 64-bit sums are exact
};

MatrixForm ChooseMatrixForm(const MatrixSplit& split);

}  // namespace bayercam
