#pragma once
#include <cstdlib>
inline double Knob(const char* name, double def) {
  const char* v = std::getenv(name);
  return v ? std::atof(v) : def;
}
