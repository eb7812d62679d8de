#include "math/glmath.h"
#include "tests/test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>

namespace {

const float kPi = 3.1415927f;

bool AllFinite(const float* m, int n)
{
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(m[i])) return false;
    return true;
}

// A well-conditioned matrix with no symmetry, so a transposed index shows up.
mat4x4 Sample4()
{
    return mat4x4(2.0f, 0.5f, -1.0f, 0.25f, 1.0f, 3.0f, 0.0f, -0.5f, 0.0f, -1.0f, 4.0f, 1.0f, 0.5f,
                  2.0f, 1.0f, 1.5f);
}

// A matrix given row by row, as it is written on paper; mat4x4 itself takes columns.
mat4x4 Rows(std::initializer_list<float> rows)
{
    mat4x4 m;
    int i = 0;
    for (float v : rows) {
        m[(i % 4) * 4 + i / 4] = v;
        ++i;
    }
    return m;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TEST(MathMatrix, Constructors)
{
    mat4x4 two(2.0f);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(two[i], (i % 5 == 0) ? 2.0f : 0.0f) << i;

    // Widening fills the upper-left block and puts 1 on the rest of the diagonal; narrowing
    // takes the block back.
    mat3x3 m(1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f, 7.0f, 8.0f, 9.0f);
    mat4x4 w(m);
    const float expect[16] = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 0, 0, 0, 1};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(w[i], expect[i]) << i;
    mat4x4 w2(mat2x2(1.0f, 2.0f, 3.0f, 4.0f));
    const float expect2[16] = {1, 2, 0, 0, 3, 4, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(w2[i], expect2[i]) << i;
    mat3x3 back(w);
    for (int i = 0; i < 9; ++i) EXPECT_EQ(back[i], m[i]) << i;
    mat2x2 corner(m);
    EXPECT_EQ(corner[2], 4.0f);

    // Columns in order; operator[] indexes the flat array.
    mat4x4 c(vec4(1, 2, 3, 4), vec4(5, 6, 7, 8), vec4(9, 10, 11, 12), vec4(13, 14, 15, 16));
    for (int i = 0; i < 16; ++i) EXPECT_EQ(c[i], static_cast<float>(i + 1));
    EXPECT_EQ(translate(1.0f, 2.0f, 3.0f)[13], 2.0f);
}

// Products of small integer matrices (exact in float) against results worked out by hand: a
// general pair, a translation after a shear and before it (the right-hand factor applies first,
// so only the first shears the translation), and the identity on either side. Matrices are
// written here row by row.
TEST(MathMatrix, ProductsOfKnownMatrices)
{
    struct Case {
        const char* what;
        mat4x4 a, b, product;
    };
    const mat4x4 general = Rows({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    const mat4x4 sparse = Rows({1, 0, 2, 0, 0, 1, 0, 3, 4, 0, 1, 0, 0, 5, 0, 1});
    const mat4x4 shear = Rows({1, 2, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});  // x += 2y
    const Case cases[] = {
        {"general * sparse", general, sparse,
         Rows({13, 22, 5, 10, 33, 46, 17, 26, 53, 70, 29, 42, 73, 94, 41, 58})},
        {"sparse * general", sparse, general,
         Rows({19, 22, 25, 28, 44, 48, 52, 56, 13, 18, 23, 28, 38, 44, 50, 56})},
        {"shear * translate", shear, translate(1, 2, 3),
         Rows({1, 2, 0, 5, 0, 1, 0, 2, 0, 0, 1, 3, 0, 0, 0, 1})},
        {"translate * shear", translate(1, 2, 3), shear,
         Rows({1, 2, 0, 1, 0, 1, 0, 2, 0, 0, 1, 3, 0, 0, 0, 1})},
        {"identity * general", mat4x4(1.0f), general, general},
        {"general * identity", general, mat4x4(1.0f), general},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ExpectMatEq(c.a * c.b, c.product);
    }
    // A matrix times a vector: the rows' dot products with (1, -1, 2, 0.5).
    const vec4 v = general * vec4(1.0f, -1.0f, 2.0f, 0.5f);
    ExpectVecNear(vec3(v.x, v.y, v.z), vec3(7.0f, 17.0f, 27.0f), 0.0f);
    EXPECT_EQ(v.w, 37.0f);
    ExpectMatEq(transpose(general), Rows({1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 4, 8, 12, 16}));
}

TEST(MathMatrix, InverseRoundTrips)
{
    mat4x4 m = Sample4();
    ExpectMatNear(inverse(m) * m, mat4x4(1.0f), 1e-5f);
    ExpectMatNear(inverse(inverse(m)), m, 1e-5f);

    mat3x3 m3(2.0f, 1.0f, 0.0f, -1.0f, 3.0f, 0.5f, 0.0f, 1.0f, 4.0f);
    mat3x3 i3 = inverse(m3) * m3;
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(i3[i], (i % 4 == 0) ? 1.0f : 0.0f, 1e-6f) << i;

    mat2x2 m2(4.0f, 1.0f, 2.0f, 3.0f);
    mat2x2 i2 = inverse(m2) * m2;
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(i2[i], (i % 3 == 0) ? 1.0f : 0.0f, 1e-6f) << i;

    // An affine transform: the inverse undoes the translation too.
    mat4x4 affine = translate(1.0f, -2.0f, 3.0f) * rotate(30.0f, vec3(1.0f, 1.0f, 0.0f));
    vec4 p = inverse(affine) * (affine * vec4(0.5f, 0.25f, -1.0f, 1.0f));
    EXPECT_NEAR(p.x, 0.5f, 1e-5f);
    EXPECT_NEAR(p.y, 0.25f, 1e-5f);
    EXPECT_NEAR(p.z, -1.0f, 1e-5f);
    EXPECT_NEAR(p.w, 1.0f, 1e-6f);
}

TEST(MathMatrix, SingularInverseIsNotFinite)
{
    mat4x4 zero;
    mat4x4 inv = inverse(zero);
    EXPECT_FALSE(AllFinite(&inv, 16));
    mat3x3 inv3 = inverse(mat3x3());
    EXPECT_FALSE(AllFinite(&inv3, 9));
}

// ---------------------------------------------------------------------------------------------

TEST(MathVector, LengthNormalizeCross)
{
    EXPECT_EQ(length(vec2(3.0f, 4.0f)), 5.0f);
    EXPECT_EQ(length2(vec3(1.0f, 2.0f, 2.0f)), 9.0f);
    EXPECT_FALSE(std::isfinite(normalize(vec3(0.0f, 0.0f, 0.0f)).x));
    ExpectVecNear(cross(vec3(1, 0, 0), vec3(0, 1, 0)), vec3(0, 0, 1), 0.0f);
    ExpectVecNear(mix(vec3(0, 2, 4), vec3(4, 2, 0), 0.25f), vec3(1, 2, 3), 0.0f);
}

TEST(MathVector, ReflectAndRefract)
{
    vec3 r = reflect(vec3(1.0f, -1.0f, 0.0f), vec3(0.0f, 1.0f, 0.0f));
    EXPECT_EQ(r.x, 1.0f);
    EXPECT_EQ(r.y, 1.0f);
    EXPECT_EQ(krvReflect(vec3(1.0f, -1.0f, 0.0f), vec3(0.0f, 1.0f, 0.0f)).y, 1.0f);

    // eta 1: the ray passes unbent.
    vec3 I = normalize(vec3(1.0f, -2.0f, 0.5f));
    vec3 N = normalize(vec3(0.2f, 1.0f, 0.0f));
    ExpectVecNear(refract(I, N, 1.0f), I, 1e-6f);
    vec2 t2 = refract(vec2(0.6f, -0.8f), vec2(0.0f, 1.0f), 1.0f);
    EXPECT_NEAR(t2.x, 0.6f, 1e-6f);

    // Grazing ray into a thinner medium, and a NaN k: total internal reflection gives zero.
    vec3 grazing = normalize(vec3(1.0f, -0.1f, 0.0f));
    ExpectVecNear(refract(grazing, vec3(0.0f, 1.0f, 0.0f), 1.5f), vec3(0.0f), 0.0f);
    ExpectVecNear(refract(I, N, std::nanf("")), vec3(0.0f), 0.0f);
    vec2 tir2 = refract(vec2(0.99f, -0.1f), vec2(0.0f, 1.0f), 1.5f);
    EXPECT_EQ(tir2.x, 0.0f);
    EXPECT_EQ(tir2.y, 0.0f);
}

TEST(MathVector, Rotate2IsCounterClockwiseDegrees)
{
    vec2 r = rotate(vec2(1.0f, 0.0f), 90.0f);
    EXPECT_NEAR(r.x, 0.0f, 1e-6f);
    EXPECT_NEAR(r.y, 1.0f, 1e-6f);
}

// ---------------------------------------------------------------------------------------------

TEST(MathTransform, Perspective90)
{
    mat4x4 p = perspective(90.0f, 1.0f, 1.0f, 100.0f);
    EXPECT_NEAR(p[0], 1.0f, 1e-6f);
    EXPECT_NEAR(p[5], 1.0f, 1e-6f);
    EXPECT_FLOAT_EQ(p[10], -101.0f / 99.0f);
    EXPECT_FLOAT_EQ(p[14], -200.0f / 99.0f);
    EXPECT_EQ(p[11], -1.0f);
    EXPECT_EQ(p[15], 0.0f);
    for (int i : {1, 2, 3, 4, 6, 7, 8, 9, 12, 13}) EXPECT_EQ(p[i], 0.0f) << i;

    // Near and far land on -1 and 1 after the divide.
    vec4 nearP = p * vec4(0.0f, 0.0f, -1.0f, 1.0f);
    vec4 farP = p * vec4(0.0f, 0.0f, -100.0f, 1.0f);
    EXPECT_NEAR(nearP.z / nearP.w, -1.0f, 1e-6f);
    EXPECT_NEAR(farP.z / farP.w, 1.0f, 1e-6f);
}

TEST(MathTransform, Ortho)
{
    ExpectMatEq(ortho(-1.0f, 1.0f, -1.0f, 1.0f, -1.0f, 1.0f), scale(1.0f, 1.0f, -1.0f));
    vec4 hi = ortho(0.0f, 4.0f, 0.0f, 2.0f, 1.0f, 3.0f) * vec4(4.0f, 2.0f, -3.0f, 1.0f);
    ExpectVecNear(vec3(hi.x, hi.y, hi.z), vec3(1.0f), 0.0f);
}

TEST(MathTransform, Look)
{
    ExpectMatEq(look(vec3(0, 0, 5), vec3(0, 0, 0), vec3(0, 1, 0)), translate(0.0f, 0.0f, -5.0f));

    // The eye goes to the origin and the centre onto the -z axis.
    vec3 eye(3.0f, 2.0f, -1.0f), center(-1.0f, 0.5f, 2.0f);
    mat4x4 v = look(eye, center, vec3(0.0f, 1.0f, 0.0f));
    vec4 e = v * vec4(eye, 1.0f);
    vec4 c = v * vec4(center, 1.0f);
    ExpectVecNear(vec3(e.x, e.y, e.z), vec3(0.0f, 0.0f, 0.0f), 1e-5f);
    ExpectVecNear(vec3(c.x, c.y, c.z), vec3(0.0f, 0.0f, -length(eye - center)), 1e-5f);
}

TEST(MathTransform, RotateMatchesAxisRotations)
{
    ExpectMatNear(rotate(90.0f, vec3(0.0f, 0.0f, 2.0f)), krvRotationZ(kPi / 2.0f), 1e-6f);
    ExpectMatNear(rotate(-30.0f, vec3(3.0f, 0.0f, 0.0f)), krvRotationX(-kPi / 6.0f), 1e-6f);
    ExpectMatNear(rotate(45.0f, vec3(0.0f, 0.5f, 0.0f)), krvRotationY(kPi / 4.0f), 1e-6f);

    vec4 p = krvRotationZ(kPi / 2.0f) * vec4(1.0f, 0.0f, 0.0f, 1.0f);
    EXPECT_NEAR(p.x, 0.0f, 1e-6f);
    EXPECT_NEAR(p.y, 1.0f, 1e-6f);

    vec3 axis(1.0f, 2.0f, -0.5f), v(0.3f, -1.0f, 2.0f);
    vec4 full = rotate(70.0f, axis) * vec4(v, 1.0f);
    vec3 r = rotate(v, 70.0f, axis);
    EXPECT_EQ(r.x, full.x);
    EXPECT_EQ(r.y, full.y);
    EXPECT_EQ(r.z, full.z);
    EXPECT_NEAR(length(r), length(v), 1e-5f);
}

TEST(MathTransform, BiasMatrices)
{
    ExpectMatEq(BiasMatrix * BiasMatrixInverse, mat4x4(1.0f));
    ExpectMatEq(BiasMatrixInverse * BiasMatrix, mat4x4(1.0f));
    vec4 lo = BiasMatrix * vec4(-1.0f, -1.0f, -1.0f, 1.0f);
    vec4 hi = BiasMatrix * vec4(1.0f, 1.0f, 1.0f, 1.0f);
    EXPECT_EQ(lo.x, 0.0f);
    EXPECT_EQ(lo.z, 0.0f);
    EXPECT_EQ(hi.y, 1.0f);
    EXPECT_EQ(hi.w, 1.0f);
}

// ---------------------------------------------------------------------------------------------

struct GetXYCase {
    vec3 n;
    vec3 x, y;
};

TEST(MathTangent, GetXYByNormalY)
{
    const GetXYCase cases[] = {
        {vec3(0, 1, 0), vec3(1, 0, 0), vec3(0, 0, -1)},
        {vec3(0, -1, 0), vec3(1, 0, 0), vec3(0, 0, 1)},
        {vec3(1, 0, 0), vec3(0, 0, -1), vec3(0, 1, 0)},
        {vec3(0, 0, 1), vec3(1, 0, 0), vec3(0, 1, 0)},
        // Inside the open intervals X is (n.z, 0, -n.x), unnormalised, and Y = n x X.
        {vec3(0.6f, 0.8f, 0.0f), vec3(0.0f, 0.0f, -0.6f), vec3(-0.48f, 0.36f, 0.0f)},
    };
    for (const GetXYCase& c : cases) {
        vec3 X(9.0f), Y(9.0f);
        GetXY(c.n, X, Y);
        ExpectVecNear(X, c.x, 1e-6f);
        ExpectVecNear(Y, c.y, 1e-6f);
        EXPECT_NEAR(dot(X, c.n), 0.0f, 1e-6f);
        EXPECT_NEAR(dot(Y, c.n), 0.0f, 1e-6f);
    }
}

TEST(MathTangent, GetXYOutsideRangeLeavesOutputs)
{
    for (float ny : {1.5f, -2.0f, std::nanf("")}) {
        vec3 X(7.0f), Y(8.0f);
        GetXY(vec3(0.0f, ny, 0.0f), X, Y);
        EXPECT_EQ(X.x, 7.0f);
        EXPECT_EQ(Y.z, 8.0f);
    }
}

// The tangent-space matrix takes the surface normal itself to +z.
TEST(MathTangent, TBNMapsNormalToZ)
{
    for (vec3 n : {vec3(0, 1, 0), vec3(0, -1, 0), vec3(1, 0, 0), normalize(vec3(0.3f, 0.5f, 0.8f)),
                   normalize(vec3(-0.2f, -0.7f, 0.4f))}) {
        ExpectVecNear(GetTBNMatrix(n) * n, vec3(0.0f, 0.0f, 1.0f), 1e-5f);
    }
}

// ---------------------------------------------------------------------------------------------

TEST(MathHelpers, Clamp)
{
    struct {
        float v, lo, hi, expect;
    } cases[] = {
        {5.0f, 0.0f, 1.0f, 1.0f},
        {-5.0f, 0.0f, 1.0f, 0.0f},
        {0.5f, 0.0f, 1.0f, 0.5f},
        {0.5f, 2.0f, 1.0f, 2.0f},  // lo > hi: lo wins
    };
    for (const auto& c : cases) EXPECT_EQ(krvClamp(c.v, c.lo, c.hi), c.expect);
}

TEST(MathHelpers, SubtractProduct)
{
    ExpectVecNear(krvSubtractProduct3f(vec3(1, 2, 3), vec3(3, 2, -1), 0.5f), vec3(1, 0, -2), 0.0f);
    EXPECT_EQ(krvSubtractProduct2f(vec2(0.0f, 4.0f), vec2(4.0f, 0.0f), 0.25f).y, -1.0f);
    EXPECT_EQ(krvSubtractProduct4f(vec4(0.0f), vec4(8.0f), 0.125f).w, 1.0f);
}

TEST(MathHelpers, FindNormal)
{
    vec3 n = krvFindNormal(vec3(0, 0, 0), vec3(1, 0, 0), vec3(0, 1, 0));
    EXPECT_EQ(n.x, 0.0f);
    EXPECT_EQ(n.y, 0.0f);
    EXPECT_EQ(n.z, 1.0f);
    vec3 p(2.0f, -1.0f, 3.0f);
    vec3 d = krvFindNormal(p, p, p);
    EXPECT_EQ(d.x, 0.0f);
    EXPECT_EQ(d.y, 0.0f);
    EXPECT_EQ(d.z, 0.0f);
    // Collinear points are degenerate too.
    vec3 c = krvFindNormal(vec3(0, 0, 0), vec3(1, 1, 1), vec3(2, 2, 2));
    EXPECT_TRUE(std::isfinite(c.x) && std::isfinite(c.y) && std::isfinite(c.z));
    EXPECT_NEAR(length(krvFindNormal(vec3(1, 2, 3), vec3(-4, 0, 1), vec3(0, 5, -2))), 1.0f, 1e-6f);
}

TEST(MathHelpers, UnProject)
{
    vec3 centre = krvUnProject(vec3(50.0f, 25.0f, 0.5f), mat4x4(1.0f), mat4x4(1.0f),
                               vec4(0.0f, 0.0f, 100.0f, 50.0f));
    EXPECT_EQ(centre.x, 0.0f);
    EXPECT_EQ(centre.y, 0.0f);
    EXPECT_EQ(centre.z, 0.0f);

    // Project a point by hand, then un-project it.
    mat4x4 mv = look(vec3(1.0f, 2.0f, 6.0f), vec3(0.0f), vec3(0.0f, 1.0f, 0.0f));
    mat4x4 pr = perspective(60.0f, 1.5f, 1.0f, 50.0f);
    vec4 vp(10.0f, 20.0f, 300.0f, 200.0f);
    vec3 obj(0.5f, -0.25f, 1.0f);
    vec4 clip = pr * mv * vec4(obj, 1.0f);
    vec3 ndc = vec3(clip.x, clip.y, clip.z) / clip.w;
    vec3 win((ndc.x + 1.0f) * 0.5f * vp.z + vp.x, (ndc.y + 1.0f) * 0.5f * vp.w + vp.y,
             (ndc.z + 1.0f) * 0.5f);
    ExpectVecNear(krvUnProject(win, mv, pr, vp), obj, 1e-3f);
}
