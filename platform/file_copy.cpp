#include "platform/file_copy.h"

#include <linux/fs.h>
#include <sys/ioctl.h>

#include "platform/posix_file.h"

namespace quarn {

bool CloneFileContents(File& source, File& target) {
  auto* in = dynamic_cast<PosixFile*>(&source);
  auto* out = dynamic_cast<PosixFile*>(&target);
  return in != nullptr && out != nullptr &&
         ioctl(out->descriptor(), FICLONE, in->descriptor()) == 0;
}

}  // namespace quarn
