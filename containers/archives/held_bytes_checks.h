#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "containers/container.h"

namespace quarn {

// Whether the bytes a scan holds of a file, whose head already starts as `kind` does, still
// let libarchive take it for that kind: false only where they show that libarchive's own
// recogniser or first decoding step would refuse it. True whenever the bytes it would look at
// are not all held. Never reads, never allocates.
//   - ZIP: libarchive looks for the end of the central directory in the last 16 KiB only;
//   - ISO 9660: the first volume descriptor, at 32 KiB, names its standard;
//   - gzip: the deflated data that follows the header must inflate.
bool HeldBytesMayBe(ContainerKind kind, const HeldEnds& held);

// The few bytes HeldBytesMayBe needs, beyond those held, to answer for `kind`: the ISO 9660
// descriptor's standard, which lies where the detectors seldom read.
std::optional<BytesWanted> HeldLookWanted(ContainerKind kind, const HeldEnds& held);

// How many last bytes the scan should hold for HeldBytesMayBe to decide about a file that
// starts with `head`: 0 when the usual tail serves.
uint32_t HeldTailWanted(std::span<const uint8_t> head, uint64_t size);

}  // namespace quarn
