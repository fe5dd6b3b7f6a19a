// 4 x 4 double-precision matrix operations of the colour pipeline.
#pragma once

#include "imaging/image_processor.h"

namespace bayercam {

Matrix4 IdentityMatrix4();

// r := q x p, through a temporary, so r may alias p or q.
void MultiplyMatrix(const Matrix4& p, const Matrix4& q, Matrix4* r);

// Each replaces m by m x T for its transform T.
void RotateX(Matrix4* m, double s, double c);
void RotateY(Matrix4* m, double s, double c);
void ShearZ(Matrix4* m, double dx, double dy);

}  // namespace bayercam
