#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "containers/container.h"
#include "containers/wrappers/wrapped_disk.h"
#include "platform/file.h"

namespace quarn {

// Whether `head` starts the first segment of an Expert Witness set: the E01 signature, or
// the Ex01 one, which is known only to be refused.
bool MayBeEwf(std::span<const uint8_t> head);

// The name of segment `number` (from 1) of the set whose first segment is `first`: the last
// extension replaced by E01…E99, then EAA…EZZ, FAA… up to ZZZ, in the case of the first's
// first letter; nothing past ZZZ.
std::optional<std::string> EwfSegmentName(const std::string& first, uint32_t number);

// An E01 set read through libewf: `file` is its first segment, the others are opened through
// `siblings` by the set's own naming rule and handed to libewf by their /proc/self/fd names,
// so libewf never looks for a file itself. A set whose segments cannot all be opened (one
// missing or refused by `siblings`, or no `siblings` at all, inside a container), an Ex01 and
// anything libewf refuses are `unsupported`; a segment that breaks off before its closing
// section, or whose number is not its place in the set, is `damaged`. Nothing when `file`
// is not a first segment.
std::optional<WrappedDisk> ReadEwf(const std::shared_ptr<File>& file,
                                   const SiblingOpener& siblings);

}  // namespace quarn
