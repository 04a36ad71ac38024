#pragma once
// A very small dialog-application framework: an application object whose
// instance initialisation does the program's work, and a base class for modal
// dialogs that routes the dialog procedure to virtual members.
#include <windows.h>

#include <string>

namespace zf {

class App {
 public:
  App() = default;
  App(const App&) = delete;
  App& operator=(const App&) = delete;
  virtual ~App() = default;

  // The program's life: InitInstance, and a message loop only when it asks for one.
  int Run(HINSTANCE instance, const char* commandLine);

  HINSTANCE Instance() const { return instance_; }
  // The command line after the program's name, as WinMain received it.
  const char* CommandLine() const { return commandLine_; }

 protected:
  // False ends the program at once; true runs a message loop until WM_QUIT.
  virtual bool InitInstance() = 0;
  // The process exit code.
  virtual int ExitInstance() { return 0; }
  // Where the application would keep per-user settings: "Software\\<company>\\".
  void SetRegistryKey(const char* company) { registryKey_ = company; }
  const std::string& RegistryKey() const { return registryKey_; }

 private:
  HINSTANCE instance_ = nullptr;
  const char* commandLine_ = "";
  std::string registryKey_;
};

class Dialog {
 public:
  explicit Dialog(int templateId) : templateId_(templateId) {}
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;
  virtual ~Dialog() = default;

  // Runs the dialog; its EndDialog result, or -1 when it could not be created.
  INT_PTR DoModal(HINSTANCE instance, HWND owner = nullptr);
  HWND Hwnd() const { return hwnd_; }

 protected:
  // WM_INITDIALOG; true lets the system set the focus.
  virtual bool OnInitDialog() { return true; }
  // Any other message. Return true when handled and put the result in result;
  // for WM_CTLCOLOR* messages and the others DialogProc documents, result is
  // what the dialog procedure itself returns.
  virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);
  HINSTANCE Instance() const { return instance_; }

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  int templateId_;
  HINSTANCE instance_ = nullptr;
  HWND hwnd_ = nullptr;
};

}  // namespace zf
