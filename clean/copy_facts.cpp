#include "clean/copy_facts.h"

#include <algorithm>
#include <cstdio>

#include "platform/path_names.h"

namespace quarn {
namespace {

Status Failure(const std::string& path, std::string_view cause) {
  return Status::Error(PathMessage("clean", path, cause));
}

std::string Octal(uint32_t mode) {
  char text[16];
  std::snprintf(text, sizeof text, "%04o", mode);
  return text;
}

bool HasAttribute(const std::vector<ExtendedAttribute>& attributes, const std::string& name) {
  return std::any_of(attributes.begin(), attributes.end(),
                     [&](const ExtendedAttribute& held) { return held.name == name; });
}

Status GiveExtendedAttributes(const OriginalFacts& facts, File& copy, const std::string& path) {
  const auto present = copy.GetExtendedAttributes();
  if (!present) return Failure(path, "the copy's extended attributes cannot be read");
  for (const ExtendedAttribute& held : *present) {
    if (!HasAttribute(facts.attributes, held.name) && !copy.RemoveExtendedAttribute(held.name)) {
      return Failure(path, "the copy cannot drop the extended attribute " + held.name +
                               ", which the file does not have");
    }
  }
  for (const ExtendedAttribute& wanted : facts.attributes) {
    const bool held = std::find(present->begin(), present->end(), wanted) != present->end();
    if (!held && !copy.SetExtendedAttribute(wanted)) {
      return Failure(path, "the copy cannot keep the extended attribute " + wanted.name);
    }
  }
  return Status::Ok();
}

}  // namespace

Result<OriginalFacts> ReadOriginalFacts(File& original, const std::string& path) {
  OriginalFacts facts;
  const std::optional<FileInfo> info = original.GetInfo();
  if (!info) return Failure(path, "the file cannot be examined");
  facts.info = *info;
  auto attributes = original.GetExtendedAttributes();
  if (!attributes) return Failure(path, "the file's extended attributes cannot be read");
  facts.attributes = std::move(*attributes);
  const std::optional<uint32_t> flags = original.GetFlags();
  if (!flags) return Failure(path, "the file's flags cannot be read");
  facts.flags = *flags;
  return facts;
}

Status GiveFactsToEmptyCopy(const OriginalFacts& facts, File& copy, const std::string& path) {
  const std::optional<FileInfo> made = copy.GetInfo();
  if (!made) return Failure(path, "the copy cannot be examined");
  if ((made->owner != facts.info.owner || made->group != facts.info.group) &&
      !copy.SetOwner(facts.info.owner, facts.info.group)) {
    return Failure(path, "the copy cannot keep the file's owner");
  }
  if (!copy.SetFlags(facts.flags)) return Failure(path, "the copy cannot keep the file's flags");
  return Status::Ok();
}

Status GiveFactsToFinishedCopy(const OriginalFacts& facts, File& copy, const std::string& path) {
  if (Status given = GiveExtendedAttributes(facts, copy, path); !given) return given;
  const std::string cannot =
      "the copy cannot keep the file's permissions " + Octal(facts.info.mode);
  // Asked only when needed: some file systems (FAT) refuse any change of mode. And looked at
  // again: a system may drop set-group-ID silently, for a group its caller is not in.
  std::optional<FileInfo> given = copy.GetInfo();
  if (given && given->mode != facts.info.mode) {
    if (!copy.SetMode(facts.info.mode)) return Failure(path, cannot);
    given = copy.GetInfo();
  }
  if (!given || given->mode != facts.info.mode) return Failure(path, cannot);
  return Status::Ok();
}

bool Unchanged(const FileInfo& before, const FileInfo& now) {
  return now.device == before.device && now.inode == before.inode && now.size == before.size &&
         now.last_write == before.last_write && now.last_change == before.last_change;
}

}  // namespace quarn
