#pragma once

#include "platform/file.h"

namespace quarn {

// Whether a QCOW image may hold clusters stored compressed, so that reading its disk
// decompresses: false only when every cluster its tables map is stored as it is. A QCOW 1
// image, tables that cannot be read, and tables too large to look through all answer true.
bool MayHoldCompressedClusters(File& qcow);

}  // namespace quarn
