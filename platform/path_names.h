#pragma once

#include <string>
#include <string_view>

#include "platform/status.h"

namespace quarn {

// The longest name of one entry the Linux file systems take, in bytes.
inline constexpr size_t kMaxNameBytes = 255;

// True when `name` names one entry of a folder: not empty, not "." or "..", and without '/'
// or NUL (a NUL would silently cut the name short on its way to the operating system).
bool IsSingleComponentName(std::string_view name);

// `folder` + "/" + `name`, without doubling the slash after the root "/".
std::string JoinPath(const std::string& folder, std::string_view name);

// `path` without trailing slashes, except that "/" stays "/".
std::string TrimTrailingSlashes(std::string path);

// `path` made absolute against `working_directory` and normalised in the text: empty and "."
// components dropped, ".." taking one back (never above "/"), no trailing slash. The user's
// own paths (targets, drive folders) are made so, and compared so.
std::string AbsoluteHostPath(const std::string& path, const std::string& working_directory);

// The process's working folder, or "" when it cannot be named (it was deleted, say): never a
// stand-in such as "/", against which a relative path would name something else.
std::string WorkingFolderPath();

// The folder part of an absolute `path`: "/a" for "/a/b", "/" for "/a" and for "/".
std::string ParentPath(const std::string& path);

// The last component of `path`: "b" for "/a/b" and for "b/"; "" for "/".
std::string BaseName(const std::string& path);

// "<action> <path>: <cause>", the shape of every file and folder error message.
std::string PathMessage(std::string_view action, const std::string& path, std::string_view cause);

// A fresh name of the form ".NAME.quarn-XXXXXX" (six random letters or digits) for a file
// that is written before it replaces or becomes `name`. No user file has such a name, so
// these are the only names ever cleared away as stale. Where that would pass the file
// system's limit of 255 bytes, NAME is cut short and a digest of the whole name follows the
// mark: ".NAM.quarn-1f2e3d4cXXXXXX", 255 bytes at most.
std::string TemporaryNameFor(std::string_view name);

// Every name TemporaryNameFor(name) makes is this followed by kTemporaryRandomLength
// random letters or digits.
inline constexpr size_t kTemporaryRandomLength = 6;
std::string TemporaryStem(std::string_view name);

// Whether `candidate` is a name TemporaryNameFor(name) could have made.
bool IsTemporaryNameFor(std::string_view candidate, std::string_view name);

// The cause text for an errno value.
std::string ErrnoText(int error);

// The failure of `action` on `path` with an errno value: PathMessage's text, the cause on its
// own, and absent for ENOENT, ENOTDIR and ELOOP (a loop of links names nothing).
Status ErrnoFailure(std::string_view action, const std::string& path, int error);
// The same for a call that does not follow links, where ELOOP means the name is a link and
// is said so rather than as a loop.
Status NoFollowFailure(std::string_view action, const std::string& path, int error);

}  // namespace quarn
