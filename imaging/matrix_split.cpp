#include "imaging/matrix_split.h"

#include <algorithm>

#include "imaging/bayer_kernels.h"
#include "imaging/image_processor.h"

namespace bayercam {
namespace {

constexpr uint64_t kShortLimit = 65535;
constexpr uint64_t kPairsLimit = 32767;
constexpr uint64_t kWideLimit = uint64_t{1} << 22;
constexpr uint64_t kLargestInput = 255;

}  // namespace

MatrixSplit SplitFrameMatrix(const ImageProcessor* processor) {
    MatrixSplit split{};
    for (int k = 0; k < 3; ++k) {
        for (int i = 0; i < 4; ++i) {
            const int index = 4 * i + k;
            const auto magnitude =
                static_cast<uint32_t>(MatrixMagnitude(processor->frameMatrix[index]));
            const bool positive = processor->matrixPositive[index] != 0;
            if (i < 3) {
                (positive ? split.positive : split.negative)[k][i] = magnitude;
            } else {
                (positive ? split.positiveConstant : split.negativeConstant)[k] = magnitude;
            }
        }
    }
    return split;
}

MatrixForm ChooseMatrixForm(const MatrixSplit& split) {
    bool shortSums = true;
    bool diagonal = true;
    uint64_t largest = 0;
    for (int k = 0; k < 3; ++k) {
        // Both sums together stay below 2^16, since the 16-bit form derives one from the other.
        uint64_t total = uint64_t{split.positiveConstant[k]} + split.negativeConstant[k];
        for (int i = 0; i < 3; ++i) {
            const uint64_t magnitude = uint64_t{split.positive[k][i]} + split.negative[k][i];
            total += kLargestInput * magnitude;
            largest = std::max(largest, magnitude);
            if (i == k ? split.negative[k][i] != 0 : split.positive[k][i] != 0) diagonal = false;
        }
        shortSums = shortSums && total <= kShortLimit;
    }
    if (shortSums) return diagonal ? MatrixForm::kDiagonal16 : MatrixForm::kShort16;
    if (largest <= kPairsLimit) return MatrixForm::kPairs;
    if (largest <= kWideLimit) return MatrixForm::kWide;
    return MatrixForm::kExact;
}

}  // namespace bayercam
