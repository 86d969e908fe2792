// Feeds arbitrary bytes to the settings store parser. Whatever parses must survive a rewrite:
// formatting and parsing again gives the same document, and formatting that gives the same
// text, or a person's store would drift a little with every write.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_seeds.h"
#include "platform/registry_document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  quarn::Result<quarn::RegistryDocument> parsed = quarn::ParseRegistryText(text, "fuzz.reg");
  if (!parsed) {
    if (parsed.message().rfind("fuzz.reg, line ", 0) != 0) std::abort();
    return 0;
  }
  std::string formatted = quarn::FormatRegistryText(*parsed);
  quarn::Result<quarn::RegistryDocument> reparsed =
      quarn::ParseRegistryText(formatted, "formatted.reg");
  if (!reparsed || !(*reparsed == *parsed)) std::abort();
  if (quarn::FormatRegistryText(*reparsed) != formatted) std::abort();
  return 0;
}

std::vector<std::string> FuzzSeeds() {
  return {
      // What the program writes on a first run.
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QuarnExp]\r\n"
      "\"Opzioni\"=hex:1f,00,00,00\r\n"
      "\"Lingua\"=hex:00,00,00,00\r\n"
      "\"DAT\"=\"/home/user/.local/share/quarnexp\"\r\n"
      "\"CMDLINE\"=\"C:\\\\DOS\\\\UTIL \\\"quoted\\\"\"\r\n\r\n",
      // Hand-edited, LF ends, a byte order mark, comments, mixed case, the platform's keys.
      "\xEF\xBB\xBFREGEDIT4\n"
      "; drives of this machine\n"
      "[HKEY_LOCAL_MACHINE\\Software\\QuarnExp\\Drives]\n"
      "\"C:\"=\"/,fixed\"\n"
      "\"D:\"=\"/media/usb,stick,removable\"\n"
      "\n"
      "  ; the floppy image\n"
      "[hkey_local_machine\\software\\quarnexp\\Disks]\n"
      "\"0\"=\"/srv/images/boot.img\"\n"
      "\"0x80\"=\"/dev/loop0,1024/16/63\"\n"
      "\t\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QuarnExp]\n"
      "\"MemoryImage\"=\"/srv/images/low.mem\"\n"
      "\"Day\"=dword:0000001F\n"
      "@=\"default\\nvalue\"\n"
      "; trailing note\n",
      // Deletions, unknown types and a hex list continued over lines.
      "REGEDIT4\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run]\r\n"
      "\"QuarnExp\"=\"quarnexp /autoscan\"\r\n"
      "\"Other\"=-\r\n\r\n"
      "[-HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\VxD\\QuarnMon]\r\n\r\n"
      "[HKEY_CURRENT_USER\\Unknown\\Program]\r\n"
      "\"Expand\"=hex(2):25,53,59,53,54,45,4d,52,4f,4f,54,25,5c,73,79,73,74,65,6d,33,32,\\\r\n"
      "  00\r\n"
      "\"Multi\"=hex(7):61,00,62,00,00\r\n"
      "\"None\"=hex(0):\r\n"
      "\"Odd\"=hex(4):01,02\r\n"
      "\"Large\"=hex(ffffffff):de,ad,be,ef\r\n"
      "\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,17,\\\r\n"
      "  18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,2d,2e,2f,30,31,\\\r\n"
      "      32,33\r\n"
      "\"Empty\"=hex:\r\n\r\n",
      // A key deleted, then written again; a value deleted and written again.
      "REGEDIT4\n[A\\B]\n\"x\"=\"1\"\n[a\\b\\c]\n\"y\"=\"2\"\n[-A\\b]\n[A\\B]\n\"X\"=\"3\"\n"
      "\"x\"=-\n\"x\"=\"4\"\n;end\n",
  };
}
