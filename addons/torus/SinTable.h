// The sines and cosines of the whole degrees 0…359, in single precision, for
// the table rotations of Point3D. Built once; read-only afterwards, so any
// number of points (and threads) may share one table.
#pragma once

#include <cstddef>

class SinTable {
 public:
  // Entry i holds the sine and cosine of i degrees, taken of a float angle:
  // entry 90's cosine is −4.371139e−08, not 0.
  SinTable();

  // The object is exactly these two arrays, back to back: the cosine of a
  // lies 360 floats after its sine.
  float sinValues[360];
  float cosValues[360];
};

static_assert(offsetof(SinTable, cosValues) == 360 * sizeof(float), "cosines follow the sines directly");
static_assert(sizeof(SinTable) == 720 * sizeof(float), "the table is nothing but its 720 floats");
