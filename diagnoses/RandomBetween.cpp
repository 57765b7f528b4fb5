#include "diagnoses/RandomBetween.h"

#include <cstdlib>

int RandomBetween(int a, int b)
{
    const int lo = a < b ? a : b;
    const int hi = a < b ? b : a;
    if (lo == hi)
        return lo;
    // Widened so that a range spanning the whole int cannot overflow.
    return static_cast<int>(lo + std::rand() % (static_cast<long long>(hi) - lo + 1));
}
