#pragma once
// The cents arithmetic, apart from the engine: the interval check's procedure uses it without a
// sound device.

// The interval from frequency b up to frequency a in cents: 1200 × ln(a / b) / ln 2.
double CentsBetween(int a, int b);
