#pragma once

#include "platform/file.h"
#include "platform/status.h"

namespace quarn {

// Makes `target`, a new and empty file open for writing, a copy of `source`'s bytes. Where
// both lie on one file system that can share extents, by one clone request: the copy costs
// no space until one of them changes. Else only the data is copied and the holes of a
// sparse source stay holes, so that the working copy of a large, mostly empty disk image
// costs what its data costs. The positions of both files are left unspecified. A failure
// says what failed; the caller names the files.
Status CopyFileContents(File& source, File& target);

}  // namespace quarn
