// A point or vector in three dimensions, in double precision, with an
// optional sine table for whole-degree rotations. A plain value type: copying
// copies the coordinates and the table pointer; the table is never owned.
//
// Operations that change the receiver compute every new coordinate from the
// values on entry before storing any, except Vectoriel(a, b), whose receiver
// must be neither a nor b.
#pragma once

class SinTable;

class Point3D {
 public:
  explicit Point3D(SinTable* table = nullptr) : x(0), y(0), z(0), table(table) {}
  Point3D(double x, double y, double z, SinTable* table) : x(x), y(y), z(z), table(table) {}
  Point3D(const Point3D&) = default;
  Point3D& operator=(const Point3D&) = default;

  void SetTo(double x, double y, double z);

  // Cross product receiver × v, carrying the receiver's table.
  Point3D Vectoriel(Point3D& v);
  // Receiver = a × b, stored coordinate by coordinate; the table is kept.
  void Vectoriel(Point3D& a, Point3D& b);
  // Divides by the length; the zero vector becomes NaN.
  void normalize();
  // Midpoint of the receiver and v, with the receiver's table.
  Point3D mil(Point3D v);

  // Right-hand rotations by a radians about the x, y and z axes.
  void RotateX(double a);
  void RotateY(double a);
  void RotateZ(double a);
  // The same by a whole degrees (0…359, neither wrapped nor checked) through
  // the table, which must be set.
  void FastRotateX(int a);
  void FastRotateY(int a);
  void FastRotateZ(int a);

  // v − receiver: the vector from the receiver to v, with v's table.
  Point3D Vect(Point3D v);
  double dist(Point3D v);
  double dist2(Point3D v);  // the squared distance
  void Inv();
  // Cosine of the angle between the two vectors; NaN when either is zero.
  double Cos(Point3D v);
  void print3D();
  // Applies the row-major 4 × 4 matrix m to (x, y, z, 1) and divides by the
  // fourth component.
  void AutoMult(double* m);
  // All three coordinates exactly zero (−0 counts; NaN does not).
  bool null();

  double x;
  double y;
  double z;
  SinTable* table;
};
