#pragma once

// What the LHA tests share: an archive opened by the LHA opener and read whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <span>
#include <vector>

#include "containers/test_support/archive_test_support.h"
#include "containers/archives/lha_opener.h"

namespace quarn::testing {

inline std::optional<OpenedContainer> OpenLha(const std::vector<uint8_t>& bytes) {
  LhaOpener opener;
  return OpenChecked(opener, ContainerKind::kLha, bytes);
}

// Opens and reads an archive that must open.
inline WholeArchive ReadLha(const std::vector<uint8_t>& bytes, size_t block = 4096) {
  std::optional<OpenedContainer> opened = OpenLha(bytes);
  EXPECT_TRUE(opened.has_value()) << "not opened as an LHA archive";
  if (!opened || !opened->archive) return {};
  return ReadWhole(*opened->archive, block);
}

}  // namespace quarn::testing
