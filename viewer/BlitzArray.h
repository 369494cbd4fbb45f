#ifndef KORVANE_BLITZARRAY_H
#define KORVANE_BLITZARRAY_H

#include <blitz/array.h>

// Blitz++ defines an empty profiling macro CT, which breaks Qt's QColor in any header included
// afterwards. Nothing here uses it. Include this header before any other path to Blitz++.
#undef CT

#endif
