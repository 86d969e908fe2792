#pragma once

#include <string>
#include <string_view>

#include "containers/container.h"
#include "platform/file.h"
#include "platform/folder.h"

namespace quarn {

// Whether a wrapper may name a sibling `name`: a plain file name, holding no `/`, `\`, `..`
// or drive letter.
bool IsPlainSiblingName(std::string_view name);

// The siblings a wrapper found in `folder` on the host may open: files of that folder by a
// plain name, opened without following a link or waiting on a FIFO, each a regular file of
// `wrapper`'s owner with one link; null for anything else. `wrapper_name` is the wrapper's own
// name in `folder`. `folder` must outlive its use.
SiblingOpener SiblingsIn(Folder& folder, const FileInfo& wrapper, std::string wrapper_name);

}  // namespace quarn
