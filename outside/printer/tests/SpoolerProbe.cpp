// zfspoolprobe.exe listed PRINTER | default PRINTER: asks the spooler of a fresh
// process (Wine reads the CUPS queues when the spooler loads) about PRINTER.
//   listed:  0 when EnumPrintersA lists it, 20 when not, 21 when the call fails
//   default: 0 when SetDefaultPrinterA takes it and GetDefaultPrinterA returns
//            it, 10 when SetDefaultPrinterA fails, 11 when GetDefaultPrinterA
//            fails, 12 when another printer is the default
#include <windows.h>
#include <winspool.h>

#include <cstring>
#include <vector>

namespace {

int Listed(const char* printer) {
  DWORD needed = 0, count = 0;
  EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 4, nullptr, 0, &needed, &count);
  std::vector<BYTE> buffer(needed ? needed : 1);
  if (!EnumPrintersA(PRINTER_ENUM_LOCAL, nullptr, 4, buffer.data(), needed, &needed, &count)) {
    return 21;
  }
  const auto* printers = reinterpret_cast<const PRINTER_INFO_4A*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) {
    if (printers[i].pPrinterName && std::strcmp(printers[i].pPrinterName, printer) == 0) return 0;
  }
  return 20;
}

int MakeDefault(const char* printer) {
  if (!SetDefaultPrinterA(printer)) return 10;
  char name[256] = {};
  DWORD size = sizeof name;
  if (!GetDefaultPrinterA(name, &size)) return 11;
  return std::strcmp(name, printer) == 0 ? 0 : 12;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  if (std::strcmp(argv[1], "listed") == 0) return Listed(argv[2]);
  if (std::strcmp(argv[1], "default") == 0) return MakeDefault(argv[2]);
  return 2;
}
