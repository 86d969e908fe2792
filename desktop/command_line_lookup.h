#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "desktop/drive_tree.h"

namespace quarn::window {

// The components of a command-line path, split at each backslash; a trailing backslash
// ends the last component ("C:\DOS\" and "C:\DOS" both give "C:", "DOS").
std::vector<std::string> SplitCommandLinePath(std::string_view path);

// Looks the path up in the tree: each component is searched among the visible items after
// the last match (not only its children), without regard to case, selecting every item it
// passes, so each one's folders are listed as it goes; a match is expanded and shown. True
// when every component matched: the last match is then the tree's current item.
bool LookUpCommandLinePath(DriveTree& tree, std::string_view path);

}  // namespace quarn::window
