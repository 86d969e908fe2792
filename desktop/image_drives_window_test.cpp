#include <QTest>

#include "containers/test_support/fat_image_writer.h"
#include "containers/test_support/zip_writer.h"
#include "desktop/scan_roots.h"
#include "desktop/test_support/window_test_support.h"
#include "platform/test_support/tool_witness.h"

namespace quarn::window {

using testing::ModalWatcher;
using testing::SampleBytes;
using testing::TestMachine;
using testing::TestProgram;

namespace {

constexpr uint8_t kFat12Partition = 0x01;

// A 1.44 MB floppy: DOS\KEYB.COM infected, README.TXT, and GAMES\OLD with nothing in it.
std::vector<uint8_t> FloppyImage() {
  return ::quarn::testing::FatImageWriter(::quarn::testing::FloppyLayout(1440))
      .AddFile("DOS/KEYB.COM", SampleBytes("eicar.com"))
      .AddFile("README.TXT", {'h', 'i'})
      .AddFolder("GAMES/OLD")
      .Build();
}

// A small FAT12 volume holding one folder.
std::vector<uint8_t> VolumeWithFolder(const std::string& folder) {
  ::quarn::testing::FatLayout layout;
  layout.total_sectors = 128;
  layout.root_entries = 32;
  layout.sectors_per_fat = 1;
  layout.media = 0xF8;
  return ::quarn::testing::FatImageWriter(layout).AddFile(folder + "/FILE.TXT", {'x'}).Build();
}

// A hard disk whose primary partition becomes C: (WINDOWS) and whose logical drive D: (DATA).
std::vector<uint8_t> HardDiskImage() {
  return ::quarn::testing::PartitionedImageBuilder()
      .Primary(kFat12Partition, VolumeWithFolder("WINDOWS"))
      .Logical(kFat12Partition, VolumeWithFolder("DATA"))
      .Build();
}

std::vector<QString> ChildTexts(const QTreeWidgetItem* item) {
  std::vector<QString> texts;
  for (int i = 0; i < item->childCount(); ++i) texts.push_back(item->child(i)->text(0));
  return texts;
}

QTreeWidgetItem* Child(const QTreeWidgetItem* item, const QString& text) {
  for (int i = 0; i < item->childCount(); ++i) {
    if (item->child(i)->text(0) == text) return item->child(i);
  }
  return nullptr;
}

// Selects the item as a click does, which lists its folders.
QTreeWidgetItem* Select(DriveTree& tree, QTreeWidgetItem* item) {
  if (item != nullptr) tree.setCurrentItem(item);
  return item;
}

// The message boxes shown, "TITLE: TEXT" (the splash has no text).
std::vector<QString> MessageBoxes(const ModalWatcher& watcher) {
  std::vector<QString> boxes;
  for (const ModalWatcher::Seen& seen : watcher.seen) {
    if (!seen.text.isEmpty()) boxes.push_back(seen.title + ": " + seen.text);
  }
  return boxes;
}

}  // namespace

class ImageDrivesWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void BiosDisksBecomeDrivesWhoseFoldersTheTreeListsAndWhoseScanWalksTheVolume() {
    TestMachine machine;
    machine.Put("HOST/X.TXT", {'x'});
    const std::string floppy = machine.scratch.Child("floppy.img");
    const std::string raw_hard_disk = machine.scratch.Child("hd.img");
    testing::WriteBytes(floppy, FloppyImage());
    testing::WriteBytes(raw_hard_disk, HardDiskImage());
    // The hard disk in the wrapper an emulator keeps it in: its partitions are drives all the
    // same.
    const std::string hard_disk = machine.scratch.Child("WIN98.VHD");
    QCOMPARE(
        ::quarn::testing::RunIn("/", "qemu-img convert -O vpc " + raw_hard_disk + " " + hard_disk)
            .status,
        0);
    ModalWatcher watcher;
    TestProgram run(machine, [&](WindowArguments& arguments, DesktopEnvironment& environment) {
      arguments.drives.clear();
      arguments.disks = {{0, floppy, std::nullopt}, {0x80, hard_disk, std::nullopt}};
      // What detection finds yields its letter to the images' and moves after them.
      environment.detect_drives = [&machine] {
        DriveMap detected;
        (void)detected.Add(Drive{'C', machine.drive, DriveType::kFixed});
        return detected;
      };
    });
    QCOMPARE(run.program->Start(), std::nullopt);
    QCOMPARE(MessageBoxes(watcher), std::vector<QString>{});
    DriveTree& tree = *run.window().tree();
    QCOMPARE(ChildTexts(tree.computer_item()), (std::vector<QString>{"A:", "C:", "D:", "E:"}));

    QTreeWidgetItem* a = Select(tree, Child(tree.computer_item(), "A:"));
    QCOMPARE(ChildTexts(a), (std::vector<QString>{"DOS", "GAMES"}));
    QCOMPARE(ChildTexts(Select(tree, Child(a, "GAMES"))), std::vector<QString>{"OLD"});
    QCOMPARE(ChildTexts(Select(tree, Child(tree.computer_item(), "C:"))),
             std::vector<QString>{"WINDOWS"});
    QCOMPARE(ChildTexts(Select(tree, Child(tree.computer_item(), "D:"))),
             std::vector<QString>{"DATA"});
    QCOMPARE(ChildTexts(Select(tree, Child(tree.computer_item(), "E:"))),
             std::vector<QString>{"HOST"});

    // A folder on an image drive is a root inside the volume; a host drive's is not.
    const std::vector<ScanRoot> dos = ScanRootsOf(tree, Child(a, "DOS"));
    QCOMPARE(dos.size(), size_t{1});
    QCOMPARE(dos[0].display_path, std::string("A:\\DOS"));
    QCOMPARE(dos[0].host_path, std::string("/DOS"));
    QVERIFY(dos[0].image_drive != nullptr);
    QCOMPARE(dos[0].image_drive->image, floppy);
    const std::vector<ScanRoot> everything = ScanRootsOf(tree, tree.computer_item());
    QCOMPARE(everything.size(), size_t{4});
    QCOMPARE(everything[2].image_drive->letter, 'D');
    QCOMPARE(everything[3].image_drive, nullptr);
    QCOMPARE(everything[3].host_path, machine.drive);

    Select(tree, a);
    run.program->RunCommand(kCommandScan);
    QVERIFY(run.WaitForScan());
    // Disk 0's boot sector is checked, then the volume's files are walked under A:.
    QCOMPARE(run.Lines(),
             (std::vector<std::string>{"[A:]", "BOOT SECTOR: OK", " ",
                                       "A:\\DOS\\KEYB.COM Infetto da EICAR-Test-File", " ",
                                       "Files Infetti: 1.", "Files Sospetti: 0.",
                                       "Files Analizzati: 1.", "Files Totali: 2.", " "}));
    QCOMPARE(tree.current_tree_item(), a);  // the tree comes back to the drive, found by its path
  }

  void DriveFoldersThatAreImagesOpenTheirVolumeAndImagesMetInAWalkAreScannedInside() {
    TestMachine machine;
    machine.Put("DISKS/FLOPPY.IMG", FloppyImage());
    const std::string floppy = machine.scratch.Child("floppy.img");
    const std::string not_an_image = machine.scratch.Child("notes.bin");
    testing::WriteBytes(floppy, FloppyImage());
    testing::WriteBytes(not_an_image, std::vector<uint8_t>(4096, 'n'));
    ModalWatcher watcher;
    TestProgram run(machine, [&](WindowArguments& arguments, DesktopEnvironment&) {
      arguments.drives.push_back("F:=" + not_an_image);
      arguments.drives.push_back("G:=" + floppy);
      arguments.command_line = "g:\\dos";
    });
    QCOMPARE(run.program->Start(), std::nullopt);
    QVERIFY(run.WaitForScan());
    // The command line's folder is found in the volume and scanned alone, after the check of
    // the volume's own boot sector.
    QCOMPARE(run.Lines(),
             (std::vector<std::string>{"[G:\\DOS]", "BOOT SECTOR: OK", " ",
                                       "G:\\DOS\\KEYB.COM Infetto da EICAR-Test-File", " ",
                                       "Files Infetti: 1.", "Files Sospetti: 0.",
                                       "Files Analizzati: 1.", "Files Totali: 1.", " "}));
    // The drive that cannot be used is told, and the program goes on without its files.
    QCOMPARE(MessageBoxes(watcher),
             std::vector<QString>{QString::fromStdString(
                 "Errore: drive F: " + not_an_image +
                 ": not a disk image with a FAT volume; the drive has no files")});
    DriveTree& tree = *run.window().tree();
    QCOMPARE(ChildTexts(tree.computer_item()), (std::vector<QString>{"C:", "F:", "G:"}));
    QCOMPARE(ChildTexts(Select(tree, Child(tree.computer_item(), "F:"))), std::vector<QString>{});
    QCOMPARE(ChildTexts(Select(tree, Child(tree.computer_item(), "G:"))),
             (std::vector<QString>{"DOS", "GAMES"}));

    Select(tree, tree.computer_item());
    run.program->RunCommand(kCommandScan);
    QVERIFY(run.WaitForScan());
    // The image in C: counts with its two files; G: is walked inside its volume.
    QCOMPARE(run.Lines(),
             (std::vector<std::string>{
                 "[C:]", " ", "C:\\DISKS\\FLOPPY.IMG!A:\\DOS\\KEYB.COM Infetto da EICAR-Test-File",
                 " ", "[F:]", " ", " ", "[G:]", "BOOT SECTOR: OK", " ",
                 "G:\\DOS\\KEYB.COM Infetto da EICAR-Test-File", " ", "Files Infetti: 2.",
                 "Files Sospetti: 0.", "Files Analizzati: 2.", "Files Totali: 5.", " "}));
    // The walk went into the image, but the tree shows host folders only.
    QTreeWidgetItem* disks = Child(Select(tree, Child(tree.computer_item(), "C:")), "DISKS");
    QVERIFY(disks != nullptr);
    QCOMPARE(ChildTexts(Select(tree, disks)), std::vector<QString>{});
  }

  // A clean on a drive made of an image goes into the image, and the next scan from the
  // window reads the image the clean left, not the one the program opened at its start.
  void ACleanOnAnImageDriveChangesTheImageAndTheNextScanSeesIt() {
    TestMachine machine;
    testing::WriteSettings(machine.settings, "\"Opzioni\"=dword:00010100\r\n");
    const std::string floppy = machine.scratch.Child("floppy.img");
    testing::WriteBytes(floppy,
                        ::quarn::testing::FatImageWriter(::quarn::testing::FloppyLayout(1440))
                            .AddFile("CLEAN.COM", SampleBytes("com_clean_append.com"))
                            .Build());
    ModalWatcher watcher;
    TestProgram run(machine, [&](WindowArguments& arguments, DesktopEnvironment&) {
      arguments.disks = {{0, floppy, std::nullopt}};
    });
    QCOMPARE(run.program->Start(), std::nullopt);
    DriveTree& tree = *run.window().tree();
    const std::vector<std::string> first = {"[A:]",
                                            "BOOT SECTOR: OK",
                                            " ",
                                            "A:\\CLEAN.COM Infetto da QTF.ComClean.Append",
                                            " * * *  RIMOSSO  * * *",
                                            " ",
                                            "Files Infetti: 1.",
                                            "Files Sospetti: 0.",
                                            "Files Analizzati: 1.",
                                            "Files Totali: 1.",
                                            "Virus Rimossi: 1.",
                                            " "};
    const std::vector<std::string> second = {"[A:]",
                                             "BOOT SECTOR: OK",
                                             " ",
                                             " ",
                                             "Files Infetti: 0.",
                                             "Files Sospetti: 0.",
                                             "Files Analizzati: 1.",
                                             "Files Totali: 1.",
                                             "Virus Rimossi: 0.",
                                             " "};
    for (const auto& expected : {first, second}) {
      Select(tree, Child(tree.computer_item(), "A:"));
      run.program->RunCommand(kCommandScan);
      QVERIFY(run.WaitForScan());
      QCOMPARE(run.Lines(), expected);
    }
    QCOMPARE(MessageBoxes(watcher), std::vector<QString>{});
  }

  // An archive met in a walk is scanned inside: its entries count in the totals and are
  // named in the list, but it is no folder of the tree.
  void ArchivesInAWalkAreScannedInsideWithoutBecomingFolders() {
    TestMachine machine;
    machine.Put("GAMES/PACK.ZIP", ::quarn::testing::ZipWriter()
                                      .Add("INSTALL/SETUP.EXE", SampleBytes("exe_entry.exe"))
                                      .Add("README.TXT", {'r'})
                                      .Build());
    TestProgram run(machine);
    QCOMPARE(run.program->Start(), std::nullopt);
    DriveTree& tree = *run.window().tree();
    QTreeWidgetItem* games = Child(Select(tree, Child(tree.computer_item(), "C:")), "GAMES");
    QVERIFY(games != nullptr);
    QCOMPARE(ChildTexts(Select(tree, games)), std::vector<QString>{});
    run.program->RunCommand(kCommandScan);
    QVERIFY(run.WaitForScan());
    QCOMPARE(run.Lines(),
             (std::vector<std::string>{"[C:\\GAMES]", " ",
                                       "C:\\GAMES\\PACK.ZIP!INSTALL\\SETUP.EXE Infetto da "
                                       "QTF.ExeEntry",
                                       " ", "Files Infetti: 1.", "Files Sospetti: 0.",
                                       "Files Analizzati: 1.", "Files Totali: 3.", " "}));
  }
};

}  // namespace quarn::window

QTEST_MAIN(quarn::window::ImageDrivesWindowTest)
#include "image_drives_window_test.moc"
