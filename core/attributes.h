// The attribute table: every varying a pixel is shaded from, in the order the span stage packs
// them. It is the one place that lists them; the interpolation of the pipeline records
// (krvi::Deltas::SetDeltas, krvi::Lerp), their flattening into packed lanes (krvi::Flatten,
// krvi::VectorsOf), the pixel record of the scalar body (PixelAttributes), and the lanes, queue
// rows and record stride of the SIMD bodies (krvi::AttributeLanesOf, krvi::PixelQueue) are all
// derived from it, and static_asserts tie it to the records' fields.
//
// A new varying is a row here and a field of the same name in _3D_Korvane_Shader (and its
// values in the vertex stage and its use in the shading).
#pragma once

#include "core/features.h"
#include "core/vertex.h"

#include <cstddef>

// X(field, floats, feature bit, further bits it needs): the field's name in _3D_Korvane_Shader,
// krvi::Deltas and PixelAttributes; it is carried when kSpanColor, its bit and the further ones
// are all set. The order is the lane order.
#define KRV_ATTRIBUTES(X)             \
    X(color, 3, kSpanColor, 0u)       \
    X(texCoord, 2, kSpanTexture, 0u)  \
    X(normal, 3, kSpanLight, 0u)      \
    X(lightVector, 3, kSpanLight, 0u) \
    X(shadowCoord, 4, kSpanShadow, kSpanLight)

namespace krvi {

// The float vector of n lanes.
template <int N>
struct VectorOf;
template <>
struct VectorOf<2> {
    using type = vec2;
};
template <>
struct VectorOf<3> {
    using type = vec3;
};
template <>
struct VectorOf<4> {
    using type = vec4;
};

struct AttributeRow {
    int first;  // lane of the attribute's first float, 0 the colour's red
    int count;
    unsigned feature;
    unsigned needs;
    // Whether a draw with this mask carries the attribute.
    constexpr bool In(unsigned mask) const
    {
        return (mask & kSpanColor) && (mask & feature) && (mask & needs) == needs;
    }
};

enum AttributeName {
#define KRV_ATTRIBUTE_NAME(field, n, feature, needs) kAttribute_##field,
    KRV_ATTRIBUTES(KRV_ATTRIBUTE_NAME)
#undef KRV_ATTRIBUTE_NAME
        kAttributeRows
};

struct AttributeTable {
    AttributeRow row[kAttributeRows];
    int lanes = 0;  // of all rows
    constexpr AttributeTable() : row()
    {
        const int counts[] = {
#define KRV_ATTRIBUTE_COUNT(field, n, feature, needs) n,
            KRV_ATTRIBUTES(KRV_ATTRIBUTE_COUNT)
#undef KRV_ATTRIBUTE_COUNT
        };
        const unsigned features[] = {
#define KRV_ATTRIBUTE_FEATURE(field, n, feature, needs) feature,
            KRV_ATTRIBUTES(KRV_ATTRIBUTE_FEATURE)
#undef KRV_ATTRIBUTE_FEATURE
        };
        const unsigned needs[] = {
#define KRV_ATTRIBUTE_NEEDS(field, n, feature, needs) needs,
            KRV_ATTRIBUTES(KRV_ATTRIBUTE_NEEDS)
#undef KRV_ATTRIBUTE_NEEDS
        };
        for (int i = 0; i < kAttributeRows; ++i) {
            row[i] = AttributeRow{lanes, counts[i], features[i], needs[i]};
            lanes += counts[i];
        }
    }
};
inline constexpr AttributeTable kAttributeTable{};

// Lanes of all attributes: the rows of a PixelQueue, the SIMD body's attribute vectors.
constexpr int kAttributeLanes = kAttributeTable.lanes;

// The lanes a draw with this mask carries: the attributes up to its last one (those in between
// that it does not carry hold zeros).
constexpr int AttributeLanesOf(unsigned mask)
{
    int n = 0;
    for (int i = 0; i < kAttributeRows; ++i)
        if (kAttributeTable.row[i].In(mask))
            n = kAttributeTable.row[i].first + kAttributeTable.row[i].count;
    return n;
}

// The four-float vectors that hold the position and the attributes of mask (span.h's FlatPoint).
constexpr int VectorsOf(unsigned mask) { return 1 + (AttributeLanesOf(mask) + 3) / 4; }

// op(field, first lane, count) for each attribute that `features` carries, where field(r) is
// the attribute's field of a record r (any of the records above); with a constant mask the
// tests fold away.
template <class Op>
KRV_ALWAYS_INLINE void ForAttributes(unsigned features, Op op)
{
#define KRV_ATTRIBUTE_VISIT(field, n, feature, needs)         \
    if (kAttributeTable.row[kAttribute_##field].In(features)) \
        op(                                                   \
            [](auto& r) -> auto& { return r.field; },         \
            kAttributeTable.row[kAttribute_##field].first, n);
    KRV_ATTRIBUTES(KRV_ATTRIBUTE_VISIT)
#undef KRV_ATTRIBUTE_VISIT
}

}  // namespace krvi

// The record fields match the table: each attribute field has the table's floats, in every
// record that carries it.
#define KRV_ATTRIBUTE_SIZE(field, n, feature, needs)                        \
    static_assert(sizeof(_3D_Korvane_Shader::field) == (n) * sizeof(float), \
                  "_3D_Korvane_Shader::" #field " has the attribute table's floats");
KRV_ATTRIBUTES(KRV_ATTRIBUTE_SIZE)
#undef KRV_ATTRIBUTE_SIZE
