#include <gtest/gtest.h>

#include <Magnum/Magnum.h>
#include <Magnum/Math/Matrix4.h>
#include <Magnum/Math/Quaternion.h>
#include <Magnum/Math/Vector2.h>
#include <Magnum/Math/Vector3.h>
#include <Magnum/Math/Vector4.h>

using namespace Magnum;

/* The storage order of vectors, quaternions and matrices, and their zero
   and identity defaults, are checked through the JSON accessors */
TEST(Math, LayoutAccessorsAndFuzzyEquality) {
    static_assert(sizeof(Vector3) == 12, "vectors hold only their components");
    static_assert(sizeof(Matrix4) == 64, "matrices hold only their components");
    EXPECT_EQ((Vector4{1.0f, 2.0f, 3.0f, 4.0f}.z()), 3.0f);
    EXPECT_EQ(Quaternion{}.scalar(), 1.0f);
    const Matrix4 columns{Vector4{1, 2, 3, 4}, Vector4{5, 6, 7, 8}, Vector4{9, 10, 11, 12}, Vector4{13, 14, 15, 16}};
    EXPECT_EQ(columns[1][2], 7.0f);
    EXPECT_EQ(columns.data()[4], 5.0f);

    EXPECT_TRUE((Vector3{1.0f, 0.0f, 0.0f} == Vector3{1.000001f, 0.0f, 0.0f}));
    EXPECT_FALSE((Vector3{1.0f, 0.0f, 0.0f} == Vector3{1.1f, 0.0f, 0.0f}));
    EXPECT_FALSE((Vector2i{1, 2} == Vector2i{1, 3}));
}
