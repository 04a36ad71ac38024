#include "UploadApp.h"

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include "UploadDialog.h"

namespace zf {

bool UploadApp::InitInstance() {
  InitCommonControls();
  if (FAILED(CoInitialize(nullptr))) return false;
  // Nothing is stored there; it only names where settings would go.
  SetRegistryKey("Orvane Software");
  commandLine_ = CommandLine();
  {
    UploadDialog dialog(commandLine_);
    dialog.DoModal(Instance());
  }
  CoUninitialize();
  // No message loop: the process ends with the notice.
  return false;
}

}  // namespace zf

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
  zf::UploadApp app;
  return app.Run(instance, commandLine);
}
