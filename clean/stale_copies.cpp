#include "clean/stale_copies.h"

#include <algorithm>

#include "platform/path_names.h"

namespace quarn {
namespace {

// A walk cleans one folder's files before it leaves the folder, so few listings are worth
// keeping; a few more cover going down into subfolders and coming back.
constexpr size_t kListingsKept = 64;
constexpr std::string_view kMark = ".quarn-";

}  // namespace

StaleCopies::Listing& StaleCopies::ListingOf(Folder& folder) {
  const FolderIdentity identity = folder.Identity();
  auto kept = std::find_if(listings_.begin(), listings_.end(), [&](const Listing& listing) {
    return listing.identity == identity && listing.path == folder.Path();
  });
  if (kept != listings_.end()) return *kept;
  if (listings_.size() == kListingsKept) listings_.pop_back();
  Listing& listing = listings_.emplace_front();
  listing.identity = identity;
  listing.path = folder.Path();
  // A folder that cannot be listed has no copies to remove as far as this scan knows.
  auto entries = folder.List();
  if (!entries) return listing;
  for (const FolderEntry& entry : *entries) {
    const std::string& name = entry.name;
    if (entry.kind != EntryKind::kFile || name.size() <= kTemporaryRandomLength || name[0] != '.' ||
        name.find(kMark) == std::string::npos) {
      continue;
    }
    listing.by_stem[name.substr(0, name.size() - kTemporaryRandomLength)].push_back(name);
  }
  return listing;
}

std::vector<Status> StaleCopies::Remove(Folder& folder, const std::string& name) {
  std::vector<Status> stays;
  Listing& listing = ListingOf(folder);
  auto found = listing.by_stem.find(TemporaryStem(name));
  if (found == listing.by_stem.end()) return stays;
  const std::vector<std::string> candidates = std::move(found->second);
  listing.by_stem.erase(found);
  for (const std::string& candidate : candidates) {
    if (!IsTemporaryNameFor(candidate, name)) continue;
    Status removed = folder.Delete(candidate);
    if (removed) continue;
    auto left = folder.Examine(candidate);
    if (left && !left->has_value()) continue;  // someone else removed it meanwhile
    stays.push_back(Status::Error(
        PathMessage("clean", JoinPath(folder.Path(), name),
                    "a copy an earlier clean left behind stays: " + removed.message())));
  }
  return stays;
}

}  // namespace quarn
