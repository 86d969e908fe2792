#pragma once

#include "platform/file.h"

namespace quarn {

// Makes `target`, a new and empty file open for writing, share `source`'s extents by one
// clone request, where both lie on one file system that can: the copy then costs no space
// and no reading until one of them changes. False leaves `target` empty, and the caller
// copies the bytes itself (holes kept, see CleaningCopy::FillFrom); it is also false for
// files that are no host descriptors (the in-memory twin).
bool CloneFileContents(File& source, File& target);

}  // namespace quarn
