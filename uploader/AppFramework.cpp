#include "AppFramework.h"

namespace zf {
namespace {

// Messages whose handled value is the dialog procedure's own return value
// rather than DWLP_MSGRESULT (see the DialogProc documentation).
bool ReturnsDirectly(UINT message) {
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
      return true;
    default:
      return false;
  }
}

}  // namespace

int App::Run(HINSTANCE instance, const char* commandLine) {
  instance_ = instance;
  commandLine_ = commandLine ? commandLine : "";
  if (!InitInstance()) return ExitInstance();
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return ExitInstance();
}

INT_PTR Dialog::DoModal(HINSTANCE instance, HWND owner) {
  instance_ = instance;
  return DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId_), owner, DialogProc,
                         reinterpret_cast<LPARAM>(this));
}

bool Dialog::OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }

INT_PTR CALLBACK Dialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Dialog* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(lParam);
    self->hwnd_ = hwnd;
    SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
    return self->OnInitDialog() ? TRUE : FALSE;
  }
  self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  // Messages before WM_INITDIALOG (WM_SETFONT) and after the pointer is cleared.
  if (!self) return FALSE;

  INT_PTR result = 0;
  const bool handled = self->OnMessage(message, wParam, lParam, result);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, DWLP_USER, 0);
    self->hwnd_ = nullptr;
  }
  if (!handled) return FALSE;
  if (ReturnsDirectly(message)) return result;
  SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
  return TRUE;
}

}  // namespace zf
