#include <QTest>
#include <cstring>

#include "desktop/test_support/window_test_support.h"

namespace quarn::window {

using testing::ModalWatcher;
using testing::TestMachine;
using testing::TestProgram;

namespace {

// MOV AX,3521h / INT 21h / MOV [0112h],BX / MOV [0114h],ES: a resident hook of INT 21h,
// confirmed by its bytes 4 and 5.
const std::vector<uint8_t> kHook = {0xB8, 0x21, 0x35, 0xCD, 0x21, 0x89,
                                    0x1E, 0x12, 0x01, 0x8C, 0x06, 0x14};

// A database whose one memory pattern is the hook, named RESIDENT.
void WriteMemoryPatternDatabase(const std::string& folder) {
  DatabaseContent content;
  content.version = 7;
  content.year = 2100;  // not out of date: no reminder
  content.month = 1;
  std::vector<uint8_t> pattern(20, 0);
  std::memcpy(pattern.data(), kHook.data(), kHook.size());
  pattern[14] = 5;  // VirusId
  pattern[17] = 4;  // the confirmation word at pattern byte 4
  pattern[18] = 0x21;
  pattern[19] = 0x89;
  content.sections[kMemoryPatternSection].records.push_back(pattern);
  std::vector<uint8_t> name(30, 0);
  name[0] = 5;
  std::memcpy(name.data() + 2, "RESIDENT", 8);
  content.sections[kMemoryNameSection].records.push_back(name);
  content.names[5] = "RESIDENT";
  testing::WriteBytes(folder + "/QUARN.DAT",
                      EncodeDatabaseFile(BuildSignatureImage(content).value()));
  testing::WriteBytes(folder + "/NAMEVIR.DAT", EncodeDatabaseFile(BuildNameImage(content).value()));
}

std::string MemoryImage(const TestMachine& machine, bool with_hook) {
  std::vector<uint8_t> memory(0x40000, 0);
  if (with_hook) std::copy(kHook.begin(), kHook.end(), memory.begin() + 0x2000 * 16 + 0x123);
  const std::string path = machine.scratch.Child("memory.img");
  testing::WriteBytes(path, memory);
  return path;
}

void UseMemoryImage(const TestMachine& machine, const std::string& image) {
  testing::WriteSettings(machine.settings, "\"MemoryImage\"=\"" + image + "\"\r\n");
}

}  // namespace

class MemoryAlertTest : public QObject {
  Q_OBJECT

 private slots:
  void AVirusActiveInMemoryIsShownAndEndsTheProgram() {
    TestMachine machine;
    WriteMemoryPatternDatabase(machine.data);
    UseMemoryImage(machine, MemoryImage(machine, true));
    ModalWatcher watcher;
    TestProgram run(machine, "C:", {1999, 1}, /*scan_memory=*/true);
    QCOMPARE(run.program->Start(), std::optional<int>(0));
    QVERIFY(!run.program->scans()->scanning());  // the command line's scan never started
    QVERIFY(!watcher.seen.empty());
    QVERIFY(watcher.seen.back().window_shown);  // the alert, over the window
    const std::vector<std::string> lines = run.Lines();
    QCOMPARE(lines.size(), size_t{2});
    QCOMPARE(lines[0], std::string("SCANSIONE DELLA MEMORIA"));
    QVERIFY(lines[1].find("RESIDENT") != std::string::npos);
    QVERIFY(machine.Log().find("RESIDENT") != std::string::npos);
  }

  void CleanMemorySaysOkAndTheProgramGoesOn() {
    TestMachine machine;
    WriteMemoryPatternDatabase(machine.data);
    UseMemoryImage(machine, MemoryImage(machine, false));
    ModalWatcher watcher;
    TestProgram run(machine, "", {1999, 1}, /*scan_memory=*/true);
    QCOMPARE(run.program->Start(), std::nullopt);
    QCOMPARE(run.Lines(), (std::vector<std::string>{"SCANSIONE DELLA MEMORIA", "OK"}));
    QCOMPARE(run.window().result_view()->model()->rowCount(), 2);
    for (const ModalWatcher::Seen& seen : watcher.seen) QVERIFY(!seen.window_shown);
  }
};

}  // namespace quarn::window

QTEST_MAIN(quarn::window::MemoryAlertTest)
#include "memory_alert_test.moc"
