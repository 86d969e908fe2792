// SPDX-License-Identifier: Apache-2.0
#include "shell/archive_scan.h"

#include <algorithm>
#include <array>

#include "containers/entry_spool.h"
#include "platform/path_names.h"
#include "shell/archive_ahead.h"
#include "shell/archive_entry_read.h"

namespace quarn {
namespace {

// A DOS name's extension is at most this long: a "_" after one as long is no lost character.
constexpr size_t kDosExtensionLength = 3;

std::string LastComponent(const std::string& path) {
  const size_t cut = path.find_last_of("\\/!");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

}  // namespace

std::string LoneStreamName(const std::string& container_name, ContainerKind kind,
                           const std::string& last_character) {
  if (kind == ContainerKind::kSzdd && container_name.size() > 1 && container_name.back() == '_') {
    std::string squeezed = container_name.substr(0, container_name.size() - 1);
    // Today's compressors keep the whole name and append the "_" ("TOOL.EXE_"), storing no
    // character: there is nothing to put back.
    const size_t dot = squeezed.rfind('.');
    if (dot != std::string::npos && squeezed.size() - dot > kDosExtensionLength) return squeezed;
    if (!last_character.empty()) return squeezed + last_character;
  }
  const size_t dot = container_name.rfind('.');
  std::string name = dot == std::string::npos ? container_name : container_name.substr(0, dot);
  return name.empty() ? "data" : name;
}

void ScanArchiveEntries(ScanSession& session, ArchiveReader& archive, const ArchivePlace& place) {
  const ContainerLimits& limits = session.container_limits();
  const std::string_view kind = ContainerKindName(place.kind);
  auto layers_to = [&](const std::string& inner) {
    std::vector<PathLayer> layers = place.way_in;
    layers.push_back(PathLayer{std::string(kind), inner});
    return layers;
  };
  auto report_archive = [&](IncompleteReason reason) {
    place.incomplete->Report(session, place.display_path, place.host_path, place.way_in, reason);
  };
  VolumePlace inside;
  inside.display_root = place.display_path;
  inside.host_path = place.host_path;
  inside.layers = layers_to("");
  inside.depth = place.depth;
  inside.incomplete = place.incomplete;
  inside.budget = place.budget;
  auto inner_of = [&](const ArchiveEntry& entry) {
    return entry.path.empty() ? LoneStreamName(place.name, place.kind, entry.last_name_character)
                              : entry.path;
  };
  // An entry no file of its name would be read for is not unpacked either: only counted.
  auto looked_at = [&](const ArchiveEntry& entry) {
    return IsLookedAt(session, LastComponent(inner_of(entry)));
  };
  archive.Want([&](const ArchiveEntry& entry) {
    return entry.regular && !entry.unreadable &&
           !(entry.size && *entry.size > limits.max_file_size) && looked_at(entry);
  });
  ArchiveAhead ahead(
      session, archive, *place.budget,
      [&](const ArchiveEntry& entry) { return LastComponent(inner_of(entry)); },
      place.display_path);
  uint64_t files = 0;
  bool damaged = false;
  for (uint64_t index = 0; std::optional<ArchiveEntry> entry = archive.NextEntry(); ++index) {
    if (session.stop_requested().load()) return;
    if (!entry->regular) continue;
    if (++files > limits.max_entries) {
      report_archive(IncompleteReason::kEntries);
      return;
    }
    if (std::chrono::steady_clock::now() > place.budget->deadline) {
      report_archive(IncompleteReason::kTime);
      return;
    }
    const std::string inner = inner_of(*entry);
    const std::string display_path = place.display_path + "!" + inner;
    auto count = [&] {
      session.StepProgress();
      ++session.counters().total;
      session.ShowCounter(StatusPart::kTotal);
    };
    if (!looked_at(*entry)) {
      count();
      continue;
    }
    auto not_scanned = [&](IncompleteReason reason) {
      count();
      place.incomplete->Report(session, display_path, place.host_path, layers_to(inner), reason);
    };
    if (entry->unreadable) {
      not_scanned(*entry->unreadable);
      continue;
    }
    // An entry too large to scan is passed over; where that means decoding it all the same,
    // the rest of the archive is left too, and said so.
    auto pass_over = [&](IncompleteReason reason) {
      not_scanned(reason);
      if (archive.SkipsCheaply()) return false;
      report_archive(reason);
      return true;
    };
    if (entry->size && *entry->size > limits.max_file_size) {
      if (pass_over(IncompleteReason::kSize)) return;
      continue;
    }
    session.ui().SetStatusText(StatusPart::kPath, display_path);
    EntrySpool own;
    const EntrySpool* spool = &own;
    const FileDetection* detected = nullptr;
    ReadOutcome outcome;
    if (ArchiveAhead::Entry* read = ahead.Take(index, *entry)) {
      // Read ahead whole and within the file size: only the size budget is left to judge,
      // as the scan's own read would have, which passes over the entry's data.
      spool = &read->spool;
      if (read->detection) detected = &*read->detection;
      place.budget->unpacked += spool->size();
      if (place.budget->unpacked > limits.max_scan_size) outcome = {IncompleteReason::kSize, true};
    } else {
      outcome =
          SpoolEntry(limits, *place.budget, session.stop_requested(), archive, own, entry->size);
    }
    if (outcome.stopped) {
      damaged = damaged || outcome.stopped == IncompleteReason::kDamaged;
      if (outcome.archive_done) {
        not_scanned(*outcome.stopped);
        return;
      }
      const bool too_large =
          outcome.stopped == IncompleteReason::kSize || outcome.stopped == IncompleteReason::kRatio;
      if (!too_large) {
        not_scanned(*outcome.stopped);
      } else if (pass_over(*outcome.stopped)) {
        return;
      }
      continue;
    }
    if (outcome.archive_done) return;
    const std::string leaf = LastComponent(inner);
    EntryFolder folder(leaf, *spool, place.display_path);
    HandleFile(session, folder, leaf, display_path, place.host_path, &inside, inner, 0, detected);
  }
  // Damage met inside an entry's data was told with the entry.
  if (archive.Damaged() && !damaged) report_archive(IncompleteReason::kDamaged);
  if (const std::optional<IncompleteReason> unread = archive.LeftUnread()) report_archive(*unread);
}

}  // namespace quarn
