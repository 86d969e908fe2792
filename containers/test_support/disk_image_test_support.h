#pragma once

// What the containers tests share: an image held in memory as a platform File, and a walk
// that lists every folder and reads every file of a volume, as the scan will.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "containers/container.h"
#include "containers/disks/disk_image_opener.h"
#include "platform/test_support/memory_file_system.h"
#include "platform/test_support/pattern_bytes.h"

namespace quarn::testing {

inline std::shared_ptr<File> ImageFile(const std::vector<uint8_t>& bytes) {
  MemoryFileSystem files;
  EXPECT_TRUE(files.AddFile("/image.img", bytes).ok());
  auto root = files.OpenFolder("/");
  if (!root.ok()) return nullptr;
  auto opened = (*root)->OpenFile("image.img", OpenMode::kRead);
  if (!opened.ok()) return nullptr;
  return std::shared_ptr<File>(std::move(*opened));
}

// Every image a test opens also checks the quick look a scan makes before it opens a file:
// it may let in what does not open, never turn away what does.
inline std::optional<OpenedContainer> OpenImage(const std::vector<uint8_t>& bytes) {
  std::optional<OpenedContainer> opened = DiskImageOpener().Open(ImageFile(bytes));
  if (opened) {
    const size_t head = std::min(bytes.size(), kContainerHeadBytes);
    EXPECT_TRUE(DiskImageOpener().MayOpen(std::span(bytes.data(), head), bytes.size()))
        << "the quick look turns away an image that opens";
  }
  return opened;
}

// Everything a walk of one volume met: file paths ("DOS/KEYB.COM") with their bytes, folder
// paths ("DOS/"), and the damage drained after every step.
struct WalkedVolume {
  std::map<std::string, std::vector<uint8_t>> files;
  std::set<std::string> folders;
  std::vector<ContainerDamage> damage;
};

inline std::vector<uint8_t> ReadToEnd(File& file) {
  std::vector<uint8_t> bytes;
  uint8_t buffer[4096];
  while (uint32_t got = file.Read(buffer, sizeof buffer))
    bytes.insert(bytes.end(), buffer, buffer + got);
  return bytes;
}

inline void WalkFolder(ContainerFileSystem& files, Folder& folder, const std::string& prefix,
                       WalkedVolume& walked) {
  auto listed = folder.List();
  ASSERT_TRUE(listed.ok()) << listed.message();
  for (const FolderEntry& entry : *listed) {
    const std::string path = prefix + entry.name;
    if (entry.kind == EntryKind::kFolder) {
      walked.folders.insert(path + "/");
      auto inner = folder.OpenFolder(entry.name);
      ASSERT_TRUE(inner.ok()) << inner.message();
      WalkFolder(files, **inner, path + "/", walked);
    } else {
      auto file = folder.OpenListedFile(entry.name);
      ASSERT_TRUE(file.ok()) << file.message();
      walked.files[path] = ReadToEnd(**file);
    }
    for (ContainerDamage& damage : files.TakeDamage()) walked.damage.push_back(damage);
  }
}

inline WalkedVolume WalkVolume(ContainerFileSystem& files) {
  WalkedVolume walked;
  for (ContainerDamage& damage : files.TakeDamage()) walked.damage.push_back(damage);
  auto root = files.OpenFolder("/");
  EXPECT_TRUE(root.ok()) << root.message();
  if (root.ok()) WalkFolder(files, **root, "", walked);
  for (ContainerDamage& damage : files.TakeDamage()) walked.damage.push_back(damage);
  return walked;
}

// Each 2048 bytes of `iso` in a 2352-byte sector of `mode` (2: form 1); the error codes stay
// zero, as the reader never looks at them.
inline std::vector<uint8_t> RawCd(const std::vector<uint8_t>& iso, uint8_t mode) {
  std::vector<uint8_t> raw;
  for (size_t at = 0; at < iso.size(); at += 2048) {
    std::vector<uint8_t> sector(2352, 0);
    std::fill_n(sector.begin() + 1, 10, 0xFF);
    const size_t index = at / 2048 + 150;  // the address counts the two seconds of lead-in
    sector[12] = static_cast<uint8_t>(index / 75 / 60);
    sector[13] = static_cast<uint8_t>(index / 75 % 60);
    sector[14] = static_cast<uint8_t>(index % 75);
    sector[15] = mode;
    const size_t data = mode == 1 ? 16 : 24;
    std::copy_n(iso.begin() + static_cast<ptrdiff_t>(at), std::min<size_t>(2048, iso.size() - at),
                sector.begin() + static_cast<ptrdiff_t>(data));
    raw.insert(raw.end(), sector.begin(), sector.end());
  }
  return raw;
}

}  // namespace quarn::testing
