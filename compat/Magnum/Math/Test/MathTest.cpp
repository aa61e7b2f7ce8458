#include <cstring>
#include <gtest/gtest.h>

#include <Magnum/Magnum.h>
#include <Magnum/Math/Matrix4.h>
#include <Magnum/Math/Quaternion.h>
#include <Magnum/Math/Vector2.h>
#include <Magnum/Math/Vector3.h>
#include <Magnum/Math/Vector4.h>

using namespace Magnum;

TEST(Math, MemoryLayout) {
    static_assert(sizeof(Vector3) == 12, "vectors hold only their components");
    static_assert(sizeof(Matrix4) == 64, "matrices hold only their components");

    const Vector3 v{1.0f, 2.0f, 3.0f};
    EXPECT_EQ(v.data()[2], 3.0f);
    EXPECT_EQ(v.z(), 3.0f);
    EXPECT_EQ(Vector2i{}.x(), 0);

    const Quaternion identity;
    EXPECT_EQ(identity.scalar(), 1.0f);
    const Quaternion q{Vector3{1.0f, 2.0f, 3.0f}, 4.0f};
    const float expectedQuaternion[]{1.0f, 2.0f, 3.0f, 4.0f};
    EXPECT_EQ(std::memcmp(q.data(), expectedQuaternion, sizeof(expectedQuaternion)), 0);

    Matrix4 m;
    EXPECT_EQ(m[3][3], 1.0f);
    m[1][2] = 7.0f;
    /* Column 1, row 2 is the seventh value in column-major storage */
    EXPECT_EQ(m.data()[1*4 + 2], 7.0f);
    const Matrix4 columns{Vector4{1, 2, 3, 4}, Vector4{5, 6, 7, 8}, Vector4{9, 10, 11, 12}, Vector4{13, 14, 15, 16}};
    EXPECT_EQ(columns.data()[4], 5.0f);
}

TEST(Math, FuzzyEquality) {
    EXPECT_TRUE((Vector3{1.0f, 0.0f, 0.0f} == Vector3{1.000001f, 0.0f, 0.0f}));
    EXPECT_FALSE((Vector3{1.0f, 0.0f, 0.0f} == Vector3{1.1f, 0.0f, 0.0f}));
    EXPECT_FALSE((Vector2i{1, 2} == Vector2i{1, 3}));
}
