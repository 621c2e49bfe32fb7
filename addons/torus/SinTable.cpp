#include "SinTable.h"

#include <cmath>

SinTable::SinTable() {
  for (int i = 0; i < 360; ++i) {
    // The angle is a float value: both the product with π and the division
    // by 180 round to single precision before the library call.
    const float t = float(i * 3.141592653589793);
    const float angle = float(double(t) / 180);
    sinValues[i] = float(std::sin(double(angle)));
    cosValues[i] = float(std::cos(double(angle)));
  }
}
