// A recording stand-in for the conversion library verywrite.dll: each call
// appends a line ("Name|arg|arg...") to the file named by ZF_FAKE_VERYWRITE_LOG,
// VeryCreate leaves a small file at the PDF path, ZF_FAKE_VERYWRITE_FAIL=Name
// makes that call return 0, and ZF_FAKE_VERYWRITE_DROP_LOCATION=1 makes
// VeryAddImage delete "ModuleLocation" as if it vanished meanwhile.
#include <windows.h>

#include <string>

#include "../../client/Owners.h"

namespace {

constexpr INT kDocument = 7;

std::string Variable(const char* name) {
  char value[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? value : "";
}

void WriteAll(const std::string& path, DWORD disposition, const std::string& text) {
  zf::UniqueFile file(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                  disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (file) WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

INT Record(const char* call, const std::string& arguments, INT success) {
  const std::string log = Variable("ZF_FAKE_VERYWRITE_LOG");
  if (!log.empty()) WriteAll(log, OPEN_ALWAYS, std::string(call) + arguments + "\n");
  return Variable("ZF_FAKE_VERYWRITE_FAIL") == call ? 0 : success;
}

std::string Args(std::initializer_list<std::string> values) {
  std::string text;
  for (const auto& value : values) text += "|" + value;
  return text;
}

std::string Num(INT value) { return std::to_string(value); }
std::string Str(const char* text) { return text ? text : "(null)"; }

}  // namespace

extern "C" {

INT WINAPI VeryCreate(const char* pdf) {
  const INT result = Record("VeryCreate", Args({Str(pdf)}), kDocument);
  if (result) WriteAll(pdf, CREATE_ALWAYS, "%PDF-1.4\n% fake\n");
  return result;
}

INT WINAPI VeryAddInfo(INT document, const char* title, const char* subject, const char* author,
                       const char* keywords, const char* creator) {
  return Record(
      "VeryAddInfo",
      Args({Num(document), Str(title), Str(subject), Str(author), Str(keywords), Str(creator)}), 1);
}

INT WINAPI VerySetFunction(INT document, INT code, INT value, INT a, INT b, INT c) {
  return Record("VerySetFunction",
                Args({Num(document), Num(code), Num(value), Num(a), Num(b), Num(c)}), 1);
}

INT WINAPI VeryAddImage(INT document, const char* tiff) {
  if (Variable("ZF_FAKE_VERYWRITE_DROP_LOCATION") == "1") {
    zf::UniqueHKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Orvane Software\\Zentrafold", 0, KEY_SET_VALUE,
                      key.put()) == ERROR_SUCCESS)
      RegDeleteValueA(key.get(), "ModuleLocation");
  }
  return Record("VeryAddImage", Args({Num(document), Str(tiff)}), 1);
}

INT WINAPI VeryAddImageData(INT document, const void*, INT size) {
  return Record("VeryAddImageData", Args({Num(document), Num(size)}), 1);
}

INT WINAPI VeryAddText(INT document, const char* text) {
  return Record("VeryAddText", Args({Num(document), Str(text)}), 1);
}

INT WINAPI VeryClose(INT document) { return Record("VeryClose", Args({Num(document)}), 1); }

}  // extern "C"
