#include "Point3D.h"

#include "SinTable.h"

#include <cmath>
#include <cstdio>

void Point3D::SetTo(double nx, double ny, double nz) {
  x = nx;
  y = ny;
  z = nz;
}

Point3D Point3D::Vectoriel(Point3D& v) {
  return Point3D(y * v.z - z * v.y, z * v.x - x * v.z, x * v.y - y * v.x, table);
}

void Point3D::Vectoriel(Point3D& a, Point3D& b) {
  x = a.y * b.z - a.z * b.y;
  y = a.z * b.x - a.x * b.z;
  z = a.x * b.y - a.y * b.x;
}

void Point3D::normalize() {
  const double n = std::sqrt(x * x + y * y + z * z);
  x /= n;
  y /= n;
  z /= n;
}

Point3D Point3D::mil(Point3D v) { return Point3D((x + v.x) * 0.5, (y + v.y) * 0.5, (z + v.z) * 0.5, table); }

void Point3D::RotateX(double a) {
  const double c = std::cos(a), s = std::sin(a);
  const double ny = y * c - z * s, nz = y * s + z * c;
  y = ny;
  z = nz;
}

void Point3D::RotateY(double a) {
  const double c = std::cos(a), s = std::sin(a);
  const double nx = x * c + z * s, nz = z * c - x * s;
  x = nx;
  z = nz;
}

void Point3D::RotateZ(double a) {
  const double c = std::cos(a), s = std::sin(a);
  const double nx = x * c - y * s, ny = x * s + y * c;
  x = nx;
  y = ny;
}

// The table rotations: the same formulas, the float entries widened to double.
void Point3D::FastRotateX(int a) {
  const double c = table->cosValues[a], s = table->sinValues[a];
  const double ny = y * c - z * s, nz = y * s + z * c;
  y = ny;
  z = nz;
}

void Point3D::FastRotateY(int a) {
  const double c = table->cosValues[a], s = table->sinValues[a];
  const double nx = x * c + z * s, nz = z * c - x * s;
  x = nx;
  z = nz;
}

void Point3D::FastRotateZ(int a) {
  const double c = table->cosValues[a], s = table->sinValues[a];
  const double nx = x * c - y * s, ny = x * s + y * c;
  x = nx;
  y = ny;
}

Point3D Point3D::Vect(Point3D v) { return Point3D(v.x - x, v.y - y, v.z - z, v.table); }

double Point3D::dist(Point3D v) { return std::sqrt(dist2(v)); }

double Point3D::dist2(Point3D v) {
  return (std::pow(x - v.x, 2.0) + std::pow(y - v.y, 2.0)) + std::pow(z - v.z, 2.0);
}

void Point3D::Inv() {
  x = -x;
  y = -y;
  z = -z;
}

double Point3D::Cos(Point3D v) {
  const double nv = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  const double n = std::sqrt(x * x + y * y + z * z);
  return (x * v.x + y * v.y + z * v.z) / (nv * n);
}

void Point3D::print3D() { std::printf("(%f,%f,%f)\n", x, y, z); }

void Point3D::AutoMult(double* m) {
  const double w = m[12] * x + m[13] * y + m[14] * z + m[15];
  const double nx = (m[0] * x + m[1] * y + m[2] * z + m[3]) / w;
  const double ny = (m[4] * x + m[5] * y + m[6] * z + m[7]) / w;
  const double nz = (m[8] * x + m[9] * y + m[10] * z + m[11]) / w;
  x = nx;
  y = ny;
  z = nz;
}

bool Point3D::null() { return x == 0 && y == 0 && z == 0; }
