#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quarn::window {

// A network file system mounted on this machine, as the drive tree's NETWORK branch shows
// it: under its domain or workgroup when the mount names one, under its server, as a share.
struct NetworkShare {
  std::string domain;  // empty when the mount options name none
  std::string server;  // "fileserver", "10.0.0.2"
  std::string share;   // the exported folder with backslashes: "public", "export\home"
  std::string mount_point;

  std::string ServerText() const { return "\\\\" + server; }             // \\SERVER
  std::string ShareText() const { return ServerText() + "\\" + share; }  // \\SERVER\SHARE
  bool operator==(const NetworkShare&) const = default;
};

// The network mounts of a mount table's text (/proc/self/mountinfo), in mount order:
// nfs and nfs4 ("server:/export"), cifs, smb3 and smbfs ("//server/share"), sshfs
// ("user@host:path"). The domain is the "domain=" (or "dom=", "workgroup=") mount option.
// Lines of any other file system, and sources of no such shape, are left out.
std::vector<NetworkShare> NetworkSharesFromMountInfo(std::string_view mountinfo);

// The network mounts of this machine; none when the mount table cannot be read.
std::vector<NetworkShare> MountedNetworkShares();

}  // namespace quarn::window
