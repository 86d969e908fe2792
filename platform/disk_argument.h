#pragma once

#include <string_view>

#include "platform/image_system_access.h"
#include "platform/status.h"

namespace quarn {

// A disk named on a command line, `N=IMAGE[,C/H/S]`: N is 0, 1 or 0x80 (128 too), and the
// geometry is what follows the last comma when it has that shape, so an image path may
// hold commas. Stricter than the settings' form: a geometry out of range (cylinders
// 1-65535, heads 1-255, sectors 1-63) is refused rather than read as part of the name.
// Messages quote the whole argument.
Result<DiskMapping> ParseDiskArgument(std::string_view value);

}  // namespace quarn
