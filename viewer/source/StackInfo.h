#ifndef KORVANE_STACKINFOOF_H
#define KORVANE_STACKINFOOF_H

#include "ViewState.h"

class DorudURIVuruda;

// What the open file tells about showing it: each channel's name, colour and depth, whether its channels
// are bands of one spectrum, and the size of its steps. Throws BlitzFileIOException.
StackInfo stackInfoOf(DorudURIVuruda& aReader);

#endif
