// Any bytes as a disk image wrapper that a format library reads (QCOW, VHDX, VMDK, E01), handed
// over as the scan hands a host file: a descriptor of its own. The wrapper's own damage is
// damage or unsupported, nothing under it is changeable, and what it holds is walked to its
// end without a fault, a hang or a read past what a file says it holds.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "containers/wrappers/wrapper_opener.h"
#include "fuzz/fuzz_input_file.h"
#include "fuzz/fuzz_seeds.h"
#include "fuzz/volume_walk.h"
#include "platform/posix_file.h"

namespace {

// The input in an anonymous file in memory: the libraries open it again by its
// /proc/self/fd name, as they open a host file the scan holds.
std::shared_ptr<quarn::File> DescriptorFile(const uint8_t* data, size_t size) {
  const int descriptor = memfd_create("fuzz-input", MFD_CLOEXEC);
  Check(descriptor >= 0);
  size_t written = 0;
  while (written < size) {
    const ssize_t put = write(descriptor, data + written, size - written);
    Check(put > 0);
    written += static_cast<size_t>(put);
  }
  return std::make_shared<quarn::PosixFile>(descriptor, 0);
}

std::string ReadWhole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

// libewf 20140813 loses one chunk's buffer (about 32 KiB) on some damaged sets, inside the
// library, whichever copy of its support libraries serves it: told apart here so that any
// other leak still fails the run.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libewf_chunk_data_initialize\n";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::optional<quarn::OpenedContainer> opened =
      quarn::WrapperOpener().Open(DescriptorFile(data, size));
  if (!opened) return 0;
  uint64_t budget = quarn::fuzz::kMaxBytesRead;
  quarn::fuzz::WalkWrapper(*opened, budget);
  return 0;
}

// A small FAT volume in each format, written by the formats' own tools where they are
// installed (qemu-utils, ewf-tools); without them only the plain volume.
std::vector<std::string> FuzzSeeds() {
  const std::vector<uint8_t> volume = quarn::fuzz::SeedVolume();
  std::vector<std::string> seeds = {std::string(volume.begin(), volume.end())};
  char folder_template[] = "/tmp/quarn-wrapper-seeds-XXXXXX";
  if (mkdtemp(folder_template) == nullptr) return seeds;
  const std::filesystem::path folder = folder_template;
  std::ofstream(folder / "disk.img", std::ios::binary)
      .write(reinterpret_cast<const char*>(volume.data()),
             static_cast<std::streamsize>(volume.size()));
  const std::string made =
      "cd " + folder.string() +
      " && { qemu-img convert -O qcow2 disk.img disk.qcow2; qemu-img convert -c -O qcow2 disk.img"
      " packed.qcow2; qemu-img convert -O vhdx disk.img disk.vhdx; qemu-img convert -O vmdk "
      "disk.img disk.vmdk; qemu-img convert -O vmdk -o subformat=streamOptimized disk.img "
      "stream.vmdk; ewfacquire -u -q -c best -t disk disk.img; } >/dev/null 2>&1";
  (void)std::system(made.c_str());
  for (const char* name :
       {"disk.qcow2", "packed.qcow2", "disk.vhdx", "disk.vmdk", "stream.vmdk", "disk.E01"}) {
    const std::string bytes = ReadWhole(folder / name);
    if (!bytes.empty()) seeds.push_back(bytes);
  }
  std::filesystem::remove_all(folder);
  return seeds;
}
