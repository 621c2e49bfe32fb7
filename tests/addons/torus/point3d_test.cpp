// Point3D and SinTable on their own: the table's single-precision angles, the
// rotations' direction and in-place correctness, and the degenerate vectors.
#include "Point3D.h"
#include "SinTable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kHalfPi = 1.5707963267948966;

TEST(SinTable, SingleprecisionAngles) {
  const SinTable t;
  // Exact where the float angle is exact, or rounds back to the exact value.
  EXPECT_EQ(t.sinValues[0], 0.0f);
  EXPECT_EQ(t.cosValues[0], 1.0f);
  EXPECT_EQ(t.sinValues[30], 0.5f);
  EXPECT_EQ(t.sinValues[45], 0.70710677f);
  EXPECT_EQ(t.cosValues[45], 0.70710677f);
  EXPECT_EQ(t.sinValues[90], 1.0f);
  EXPECT_EQ(t.cosValues[180], -1.0f);
  EXPECT_EQ(t.sinValues[270], -1.0f);
  // The float angle of 90° lies just past π/2, of 180° just past π, of 270°
  // just short of 3π/2.
  EXPECT_NEAR(t.cosValues[90], -4.371139e-08, 5e-15);
  EXPECT_NEAR(t.sinValues[180], -8.742278e-08, 5e-15);
  EXPECT_NEAR(t.cosValues[270], 1.192488e-08, 5e-15);
  // Entry i is the float sine of the float angle float(float(i·π) / 180).
  for (int i = 0; i < 360; ++i) {
    const float angle = float(double(float(i * 3.141592653589793)) / 180);
    ASSERT_EQ(t.sinValues[i], float(std::sin(double(angle)))) << i;
    ASSERT_EQ(t.cosValues[i], float(std::cos(double(angle)))) << i;
  }
  // The cosines lie 360 floats after the sines, in one block.
  EXPECT_EQ(&t.sinValues[0] + 360, &t.cosValues[0]);
  EXPECT_EQ(sizeof(SinTable), 720 * sizeof(float));
}

TEST(Point3D, ZeroAnglesLeaveAPointAlone) {
  SinTable t;
  Point3D p(1.25, -2.5, 3.75, &t);
  p.FastRotateX(0);
  p.FastRotateY(0);
  p.FastRotateZ(0);
  p.RotateX(0.0);
  p.RotateY(0.0);
  p.RotateZ(0.0);
  EXPECT_EQ(p.x, 1.25);
  EXPECT_EQ(p.y, -2.5);
  EXPECT_EQ(p.z, 3.75);
}

// Right-hand rule, by table and by library: a quarter turn about x takes y to
// z, about y takes z to x, about z takes x to y. The table's quarter turn
// keeps its −4.371139e−08.
TEST(Point3D, QuarterTurns) {
  SinTable t;
  const double c90 = t.cosValues[90];
  struct Case {
    char axis;
    Point3D from;
    double x, y, z;  // after the table's 90°
  } cases[] = {
      {'x', Point3D(0, 1, 0, &t), 0, c90, 1},
      {'y', Point3D(0, 0, 1, &t), 1, 0, c90},
      {'z', Point3D(1, 0, 0, &t), c90, 1, 0},
  };
  for (auto& c : cases) {
    Point3D fast = c.from, exact = c.from;
    if (c.axis == 'x') fast.FastRotateX(90), exact.RotateX(kHalfPi);
    if (c.axis == 'y') fast.FastRotateY(90), exact.RotateY(kHalfPi);
    if (c.axis == 'z') fast.FastRotateZ(90), exact.RotateZ(kHalfPi);
    EXPECT_EQ(fast.x, c.x) << c.axis;
    EXPECT_EQ(fast.y, c.y) << c.axis;
    EXPECT_EQ(fast.z, c.z) << c.axis;
    // The library's quarter turn leaves cos(π/2) = 6.123e−17 instead.
    EXPECT_NEAR(exact.x, c.x == c90 ? 0 : c.x, 1e-16) << c.axis;
    EXPECT_NEAR(exact.y, c.y == c90 ? 0 : c.y, 1e-16) << c.axis;
    EXPECT_NEAR(exact.z, c.z == c90 ? 0 : c.z, 1e-16) << c.axis;
    EXPECT_EQ(fast.table, &t);
  }
  Point3D p(1, 0, 0, &t);
  p.RotateZ(kHalfPi);
  EXPECT_EQ(p.x, std::cos(kHalfPi));
  EXPECT_EQ(p.y, 1.0);
}

// Every new coordinate comes from the values on entry: turning (1, 1, 0) a
// quarter about z gives (c − 1, 1 + c), not what an update in place would.
TEST(Point3D, RotationsReadTheOldCoordinates) {
  SinTable t;
  const double c = t.cosValues[90], s = t.sinValues[90];
  Point3D z(1, 1, 0, &t);
  z.FastRotateZ(90);
  EXPECT_EQ(z.x, 1 * c - 1 * s);
  EXPECT_EQ(z.y, 1 * s + 1 * c);
  Point3D x(0, 1, 1, &t);
  x.FastRotateX(90);
  EXPECT_EQ(x.y, 1 * c - 1 * s);
  EXPECT_EQ(x.z, 1 * s + 1 * c);
  Point3D y(1, 0, 1, &t);
  y.FastRotateY(90);
  EXPECT_EQ(y.x, 1 * c + 1 * s);
  EXPECT_EQ(y.z, 1 * c - 1 * s);
  // 30° through the table uses its float values widened to double.
  Point3D w(2, 0, 0, &t);
  w.FastRotateZ(30);
  EXPECT_EQ(w.x, 2 * double(t.cosValues[30]));
  EXPECT_EQ(w.y, 1.0);
}

TEST(Point3D, Products) {
  SinTable t1, t2;
  Point3D a(1, 2, 3, &t1), b(4, 5, 6, &t2);
  const Point3D c = a.Vectoriel(b);
  EXPECT_EQ(c.x, -3);
  EXPECT_EQ(c.y, 6);
  EXPECT_EQ(c.z, -3);
  EXPECT_EQ(c.table, &t1);
  Point3D r(9, 9, 9, &t2);
  Point3D ex(1, 0, 0, &t1), ey(0, 1, 0, &t1);
  r.Vectoriel(ex, ey);
  EXPECT_EQ(r.x, 0);
  EXPECT_EQ(r.y, 0);
  EXPECT_EQ(r.z, 1);
  EXPECT_EQ(r.table, &t2);

  const Point3D m = a.mil(b);
  EXPECT_EQ(m.x, 2.5);
  EXPECT_EQ(m.y, 3.5);
  EXPECT_EQ(m.z, 4.5);
  EXPECT_EQ(m.table, &t1);

  Point3D one(1, 1, 1, &t1);
  const Point3D v = one.Vect(Point3D(3, 2, 1, &t2));
  EXPECT_EQ(v.x, 2);
  EXPECT_EQ(v.y, 1);
  EXPECT_EQ(v.z, 0);
  EXPECT_EQ(v.table, &t2);

  Point3D o(&t1);
  EXPECT_EQ(o.x, 0);
  EXPECT_EQ(o.table, &t1);
  Point3D p(1, 2, 2, nullptr);
  EXPECT_EQ(o.dist2(p), 9);
  EXPECT_EQ(o.dist(p), 3);
  EXPECT_EQ(p.dist(p), 0);
  EXPECT_EQ(Point3D(1, 0, 0, nullptr).Cos(Point3D(0, 3, 0, nullptr)), 0);
  EXPECT_DOUBLE_EQ(Point3D(1, 1, 0, nullptr).Cos(Point3D(2, 0, 0, nullptr)), std::sqrt(0.5));

  Point3D n(3, 0, 4, nullptr);
  n.normalize();
  EXPECT_DOUBLE_EQ(n.x, 0.6);
  EXPECT_EQ(n.y, 0);
  EXPECT_DOUBLE_EQ(n.z, 0.8);
  n.SetTo(1, -2, 0.5);
  n.Inv();
  EXPECT_EQ(n.x, -1);
  EXPECT_EQ(n.y, 2);
  EXPECT_EQ(n.z, -0.5);
  const Point3D copy = n;
  EXPECT_EQ(copy.z, -0.5);
}

TEST(Point3D, DegenerateVectors) {
  Point3D zero(0, 0, 0, nullptr);
  Point3D z = zero;
  z.normalize();
  EXPECT_TRUE(std::isnan(z.x) && std::isnan(z.y) && std::isnan(z.z));
  EXPECT_TRUE(std::isnan(zero.Cos(Point3D(1, 0, 0, nullptr))));
  EXPECT_TRUE(std::isnan(Point3D(1, 0, 0, nullptr).Cos(zero)));

  EXPECT_TRUE(Point3D(0, -0.0, 0, nullptr).null());
  EXPECT_FALSE(Point3D(kNaN, 0, 0, nullptr).null());
  EXPECT_FALSE(Point3D(0, 0, 1e-300, nullptr).null());
}

TEST(Point3D, AutoMult) {
  // Scale by 2, move by (1, 2, 3), with w = 0.5·x + 1: (2, 0, 0) → w = 2.
  double m[16] = {2, 0, 0, 1, 0, 2, 0, 2, 0, 0, 2, 3, 0.5, 0, 0, 1};
  Point3D p(2, 0, 0, nullptr);
  p.AutoMult(m);
  EXPECT_EQ(p.x, 2.5);
  EXPECT_EQ(p.y, 1);
  EXPECT_EQ(p.z, 1.5);
  // Every coordinate reads the point on entry: y and z below use the old x.
  double shear[16] = {1, 0, 0, 0, 1, 1, 0, 0, 1, 0, 1, 0, 0, 0, 0, 1};
  Point3D q(1, 1, 1, nullptr);
  q.AutoMult(shear);
  EXPECT_EQ(q.x, 1);
  EXPECT_EQ(q.y, 2);
  EXPECT_EQ(q.z, 2);
  // A last row that gives w = 0: infinities, or NaN for a zero numerator.
  double flat[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
  Point3D r(1, 0, -1, nullptr);
  r.AutoMult(flat);
  EXPECT_TRUE(std::isinf(r.x) && r.x > 0);
  EXPECT_TRUE(std::isnan(r.y));
  EXPECT_TRUE(std::isinf(r.z) && r.z < 0);
}

TEST(Point3D, Print) {
  ::testing::internal::CaptureStdout();
  Point3D(1, -2.5, 0, nullptr).print3D();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "(1.000000,-2.500000,0.000000)\n");
}

}  // namespace
