#include "desktop/network_shares.h"

#include <QTest>

#include "platform/test_support/memory_file_system.h"
#include "desktop/drive_tree.h"
#include "desktop/scan_roots.h"

namespace quarn::window {

namespace {

constexpr char kMountInfo[] =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "40 22 0:50 / /mnt/office rw,relatime shared:20 - cifs //files/public "
    "rw,vers=3.1.1,username=ann,domain=OFFICE,uid=1000\n"
    "41 22 0:51 / /mnt/home rw shared:21 - nfs4 nas:/export/home rw,vers=4.2,addr=10.0.0.2\n"
    "42 22 0:52 / /mnt/box rw shared:22 - fuse.sshfs ann@box.example: rw,user_id=1000\n"
    "43 22 0:53 / /mnt/old rw shared:23 - smb3 //files/old rw,workgroup=OFFICE\n"
    "44 22 0:54 / /mnt/odd rw shared:24 - nfs no-colon rw\n"
    "broken line\n";

}  // namespace

class NetworkSharesTest : public QObject {
  Q_OBJECT

 private slots:
  void NetworkMountsBecomeServersAndShares() {
    const std::vector<NetworkShare> shares = NetworkSharesFromMountInfo(kMountInfo);
    QCOMPARE(shares.size(), size_t{4});
    QCOMPARE(shares[0], (NetworkShare{"OFFICE", "files", "public", "/mnt/office"}));
    QCOMPARE(shares[1], (NetworkShare{"", "nas", "export\\home", "/mnt/home"}));
    QCOMPARE(shares[2], (NetworkShare{"", "box.example", "~", "/mnt/box"}));
    QCOMPARE(shares[3], (NetworkShare{"OFFICE", "files", "old", "/mnt/old"}));
    QCOMPARE(shares[1].ShareText(), std::string("\\\\nas\\export\\home"));
  }

  void TheBranchIsListedOnlyWhenSwitchedOnAndThereAreShares() {
    MemoryFileSystem files;
    DriveMap drives;
    QVERIFY(drives.Add(Drive{'C', "/", DriveType::kFixed}));
    QVERIFY(drives.Add(Drive{'R', "/mnt/ram", DriveType::kRamDisk}));
    MonitorLink monitor;
    DriveTree tree(drives, nullptr, files, monitor, nullptr);
    const std::vector<NetworkShare> shares = NetworkSharesFromMountInfo(kMountInfo);

    tree.Fill(Language::kEnglish, false, shares);
    QCOMPARE(tree.network_item(), nullptr);
    QCOMPARE(tree.computer_item()->childCount(), 2);
    tree.Fill(Language::kEnglish, true, {});
    QCOMPARE(tree.network_item(), nullptr);

    tree.Fill(Language::kEnglish, true, shares);
    QTreeWidgetItem* network = tree.network_item();
    QVERIFY(network != nullptr);
    QCOMPARE(network->text(0), QString("NETWORK"));
    QCOMPARE(network->childCount(), 3);  // OFFICE, \\nas, \\box.example
    QTreeWidgetItem* office = network->child(0);
    QCOMPARE(DriveTree::KindOf(office), TreeItemKind::kDomain);
    QCOMPARE(office->childCount(), 1);  // one server with two shares
    QTreeWidgetItem* server = office->child(0);
    QCOMPARE(server->text(0), QString("\\\\files"));
    QCOMPARE(server->childCount(), 2);
    QCOMPARE(tree.PathOf(server->child(1)), std::string("\\\\files\\old"));
    QCOMPARE(tree.PathOf(office), std::string("NETWORK\\OFFICE"));
    QCOMPARE(tree.FolderOf(server->child(1)).value_or(TreeFolder{}).path, std::string("/mnt/old"));

    const std::vector<ScanRoot> everything = ScanRootsOf(tree, tree.computer_item());
    QCOMPARE(everything.size(), size_t{6});
    QCOMPARE(everything[1].display_path, std::string("R:"));
    QCOMPARE(everything[1].host_path, std::string("/mnt/ram"));
    QCOMPARE(everything[2].display_path, std::string("\\\\files\\public"));
    QCOMPARE(everything[5].host_path, std::string("/mnt/box"));
    const std::vector<ScanRoot> office_roots = ScanRootsOf(tree, office);
    QCOMPARE(office_roots.size(), size_t{2});
    QCOMPARE(office_roots[0].drive_icon, ResultIcon::kNetwork);
    const std::vector<ScanRoot> one = ScanRootsOf(tree, tree.computer_item()->child(0));
    QCOMPARE(one.size(), size_t{1});
    QCOMPARE(one[0].host_path, std::string("/"));
  }
};

}  // namespace quarn::window

QTEST_MAIN(quarn::window::NetworkSharesTest)
#include "network_shares_test.moc"
