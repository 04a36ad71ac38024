// A stand-in for ZentrafoldUpload.exe: writes its command line to the file named
// by ZF_FAKE_UPLOAD_RECORD, then stays until the test sets the event
// "ZentrafoldFakeUploadRelease" (so the test can find it running), or 30 s.
#include <windows.h>

#include <cstring>
#include <string>

#include "../../client/Owners.h"

int main() {
  char record[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA("ZF_FAKE_UPLOAD_RECORD", record, sizeof record);
  if (length > 0 && length < sizeof record) {
    // Written under another name first, so the record never shows up half written.
    const std::string partial = std::string(record) + ".part";
    {
      zf::UniqueFile file(CreateFileA(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
      const char* line = GetCommandLineA();
      DWORD written = 0;
      if (file)
        WriteFile(file.get(), line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
    }
    MoveFileExA(partial.c_str(), record, MOVEFILE_REPLACE_EXISTING);
  }
  zf::UniqueHandle release(OpenEventA(SYNCHRONIZE, FALSE, "ZentrafoldFakeUploadRelease"));
  if (release) WaitForSingleObject(release.get(), 30000);
  return 0;
}
