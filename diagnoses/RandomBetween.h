#pragma once
// A random integer in the closed range between a and b (in either order), from the C runtime's
// rand(); the range check seeds it with srand(time(nullptr)) when it opens, and tests seed it too.
int RandomBetween(int a, int b);
