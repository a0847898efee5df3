// CColor: four double components (red, green, blue, alpha) on a 0..1 scale.
#pragma once

namespace XSI {

struct CColor {
  double r = 0.0;
  double g = 0.0;
  double b = 0.0;
  double a = 0.0;
};

}  // namespace XSI
