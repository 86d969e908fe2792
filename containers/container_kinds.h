#pragma once

#include <memory>
#include <span>
#include <string_view>

#include "containers/container.h"

namespace quarn {

// One kind of container: everything the program knows of it outside its own opener.
struct ContainerKindRow {
  ContainerKind kind;
  // The `kind` of a `layers` entry.
  std::string_view name;
  // A disk image (a FAT volume, a partitioned disk, a wrapper of either) rather than an
  // archive: what OpensKind's image group opens and, outside a wrapper, what the actions may
  // change (OpenedContainer::Changeable).
  bool image;
  // The extensions, upper case and without the dot, under which FileFilter 0 looks at a
  // file as a container; "*_" stands for any extension that ends in "_".
  std::span<const std::string_view> extensions;
  // Makes the opener that knows the kind; its MayOpen is the kind's cheap recognition. Rows
  // of one opener lie together and share one made opener.
  std::unique_ptr<ContainerOpener> (*new_opener)();
};

// Every kind, in the order a file is tried: the order of the rows is the opener chain's.
std::span<const ContainerKindRow> ContainerKinds();

}  // namespace quarn
