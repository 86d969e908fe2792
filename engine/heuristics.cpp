#include "engine/heuristics.h"

#include <algorithm>
#include <array>
#include <span>

#include "engine/detector_state.h"
#include "engine/entry_locator.h"

namespace quarn {
namespace {

// Members of both sets.
constexpr BehaviourMask kSharedMasks[] = {
    0x0BF, 0x0CE, 0x0EE, 0x0F7, 0x0FB, 0x0FF, 0x12F, 0x13F, 0x17F, 0x1FF, 0x23F, 0x2B7, 0x2BF,
    0x2CE, 0x2DD, 0x2DE, 0x2EE, 0x2EF, 0x2FF, 0x31F, 0x33F, 0x4E7, 0x4F7, 0x63F, 0x81B, 0x835,
    0x83F, 0x8BF, 0x8CE, 0x8DF, 0x8EA, 0x8EE, 0x8F7, 0x8FB, 0x8FF, 0x90F, 0x92F, 0x93F, 0x97F,
    0x9DF, 0xA1F, 0xA3F, 0xA5F, 0xA7F, 0xA9F, 0xAB7, 0xABF, 0xACD, 0xACE, 0xAD7, 0xADD, 0xADE,
    0xAEE, 0xAEF, 0xAFF, 0xB1F, 0xB3F, 0xB5F, 0xBDF, 0xBFF, 0xC0F, 0xCD7, 0xCE7, 0xCF7, 0xE17,
    0xE37, 0xE3F, 0xE57, 0xEB7, 0xED7, 0xEE7, 0xEF7, 0xEFF,
};
constexpr BehaviourMask kExecutableOnlyMasks[] = {0x27F, 0x37F, 0x3DF, 0xADF};
constexpr BehaviourMask kNonExecutableOnlyMasks[] = {0x0DF, 0x11F, 0x1DF, 0x21F, 0x2DF, 0x35F,
                                                     0x3FF, 0x4D7, 0x637, 0x6B7, 0x6FF, 0x81F};

bool Contains(std::span<const BehaviourMask> set, BehaviourMask mask) {
  return std::find(set.begin(), set.end(), mask) != set.end();
}

// Whether `mask` is a member of the shared set or of `own_set`.
bool IsMember(BehaviourMask mask, std::span<const BehaviourMask> own_set) {
  return mask != 0 && (Contains(kSharedMasks, mask) || Contains(own_set, mask));
}

// Whether some member of the set has only bits `possible` holds: when none has, no mask
// the walk could collect is a member, and the walk can be left out.
bool AnyWithin(std::span<const BehaviourMask> set, BehaviourMask possible) {
  return std::any_of(set.begin(), set.end(),
                     [possible](BehaviourMask member) { return (member & ~possible) == 0; });
}

// Whether the code at `entry` collects a mask of the shared set or of `own_set`, walked only
// when the cheap search leaves a member possible.
bool SuspiciousAt(File& file, uint32_t entry, std::span<const BehaviourMask> own_set) {
  const EntryCode code = ReadEntryCode(file, entry);
  const BehaviourMask possible = PossibleBehaviourMask(code);
  if (!AnyWithin(kSharedMasks, possible) && !AnyWithin(own_set, possible)) return false;
  return IsMember(WalkBehaviourMask(code), own_set);
}

}  // namespace

bool IsSuspiciousExecutableMask(BehaviourMask mask) {
  return IsMember(mask, kExecutableOnlyMasks);
}

bool IsSuspiciousNonExecutableMask(BehaviourMask mask) {
  return IsMember(mask, kNonExecutableOnlyMasks);
}

int CheckExecutableHeuristics(const DatabaseImage& /*signatures*/, File& file) {
  DetectorState state;
  LocateEntryCode(file, state);
  return SuspiciousAt(file, state.entry_position, kExecutableOnlyMasks) ? 1 : 0;
}

int CheckNonExecutableHeuristics(const DatabaseImage& /*signatures*/, File& file) {
  std::array<uint8_t, kComHeaderReadSize> buffer;
  uint32_t entry = 0;
  LocateComEntry(file, buffer, &entry);
  return SuspiciousAt(file, entry, kNonExecutableOnlyMasks) ? 1 : 0;
}

}  // namespace quarn
