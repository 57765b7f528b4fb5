#include "synth/CentsBetween.h"

#include <cmath>

double CentsBetween(int a, int b)
{
    return std::log(static_cast<double>(a) / b) / std::log(2.0) * 1200.0;
}
