// The document exit: close the capture, give the user's printer back, convert
// and hand the PDF to the uploader.
#include <windows.h>
#include <rpc.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <optional>
#include <string>
#include <utility>

#include "CaptureState.h"
#include "ConversionModule.h"
#include "DefaultPrinter.h"
#include "ExitFunctions.h"
#include "SettingsValue.h"
#include "TiffFile.h"
#include "UploaderLaunch.h"

namespace pagetrap {
namespace {

// A new GUID in its 36-character form (lower case, hyphens, no braces).
std::optional<std::string> NewGuidText() {
  GUID guid;
  if (FAILED(CoCreateGuid(&guid))) return std::nullopt;
  RPC_CSTR text = nullptr;
  if (UuidToStringA(&guid, &text) != RPC_S_OK || !text) return std::nullopt;
  std::string result(reinterpret_cast<const char*>(text));
  RpcStringFreeA(&text);
  return result;
}

// <CSIDL_APPDATA>\Zentrafold\<guid>.pdf, the folder made when missing: the
// uploader finds the job file beside the document.
std::optional<std::string> NewDocumentPath() {
  char appData[MAX_PATH] = {};
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData)))
    return std::nullopt;
  const std::string folder = JoinPath(appData, "Zentrafold\\");
  if (!PathFileExistsA(folder.c_str())) CreateDirectoryA(folder.c_str(), nullptr);
  const auto guid = NewGuidText();
  if (!guid) return std::nullopt;
  return folder + *guid + ".pdf";
}

void EndDocument() {
  // A job whose file never opened has no pages of its own: what is on disk is
  // the previous job's capture, which must not be sent again.
  const bool captured = g_capture.gout != nullptr;
  CloseTiff(std::exchange(g_capture.gout, nullptr));
  RestoreDefaultPrinter();
  if (!captured) return;
  const auto pdf = NewDocumentPath();
  if (!pdf) return;
  if (!ConvertToPdf(g_capture.tiffPath, *pdf)) return;
  StartUploader(*pdf);
}

}  // namespace
}  // namespace pagetrap

extern "C" SHORT WINAPI endDocExit() {
  try {
    pagetrap::EndDocument();
  } catch (...) {
    // Nothing may escape into the driver; the job simply is not uploaded.
  }
  return 0;
}
