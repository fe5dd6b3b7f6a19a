#include "imaging/matrix4.h"

#include "imaging/fp_strict.h"

namespace bayercam {

Matrix4 IdentityMatrix4() {
    Matrix4 identity{};
    for (int i = 0; i < 4; ++i) identity.m[i][i] = 1.0;
    return identity;
}

void MultiplyMatrix(const Matrix4& p, const Matrix4& q, Matrix4* r) {
    Matrix4 product;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            double sum = 0.0;
            for (int n = 0; n < 4; ++n) sum += q.m[i][n] * p.m[n][j];
            product.m[i][j] = sum;
        }
    }
    *r = product;
}

void RotateX(Matrix4* m, double s, double c) {
    const Matrix4 t{{{1, 0, 0, 0}, {0, c, s, 0}, {0, -s, c, 0}, {0, 0, 0, 1}}};
    MultiplyMatrix(t, *m, m);
}

void RotateY(Matrix4* m, double s, double c) {
    const Matrix4 t{{{c, 0, -s, 0}, {0, 1, 0, 0}, {s, 0, c, 0}, {0, 0, 0, 1}}};
    MultiplyMatrix(t, *m, m);
}

void ShearZ(Matrix4* m, double dx, double dy) {
    const Matrix4 t{{{1, 0, dx, 0}, {0, 1, dy, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
    MultiplyMatrix(t, *m, m);
}

}  // namespace bayercam
