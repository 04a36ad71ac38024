#include "UploadDialog.h"

#include <utility>

#include "Upload.h"
#include "resource.h"

namespace zf {
namespace {

// Lower right corner of the notice, away from the desktop's lower right corner.
constexpr int kCornerMargin = 50;

}  // namespace

UploadDialog::UploadDialog(std::string commandLine)
    : Dialog(IDD_UPLOAD_NOTICE), commandLine_(std::move(commandLine)) {}

bool UploadDialog::OnInitDialog() {
  HWND hwnd = Hwnd();
  icon_ = LoadIconA(Instance(), MAKEINTRESOURCEA(IDI_ZENTRAFOLD));
  SendMessageA(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  SendMessageA(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

  // Layered and transparent: the notice never takes mouse input. It stays
  // invisible until the worker sets its first alpha.
  SetWindowLongPtrA(hwnd, GWL_EXSTYLE,
                    GetWindowLongPtrA(hwnd, GWL_EXSTYLE) | WS_EX_LAYERED | WS_EX_TRANSPARENT);

  RECT client{}, desktop{};
  GetClientRect(hwnd, &client);
  GetWindowRect(GetDesktopWindow(), &desktop);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  MoveWindow(hwnd, desktop.right - kCornerMargin - width, desktop.bottom - kCornerMargin - height,
             width, height, TRUE);
  SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);

  whiteBrush_.reset(CreateSolidBrush(RGB(255, 255, 255)));

  for (int id : {IDC_TITLE, IDC_NOTES, IDC_TITLE_LABEL, IDC_NOTES_LABEL})
    ShowWindow(GetDlgItem(hwnd, id), SW_HIDE);

  // The worker owns the rest of the run, including ending this dialog.
  DWORD threadId = 0;
  UniqueHandle worker(CreateThread(nullptr, 0, UploadWorker, this, 0, &threadId));
  if (!worker) EndDialog(hwnd, -1);
  return true;
}

bool UploadDialog::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result) {
  switch (message) {
    case WM_PAINT:
      OnPaint();
      result = 0;
      return true;
    case WM_CTLCOLORDLG:
      if (!whiteBrush_) return false;
      result = reinterpret_cast<INT_PTR>(whiteBrush_.get());
      return true;
    case WM_QUERYDRAGICON:
      result = reinterpret_cast<INT_PTR>(icon_);
      return true;
    case WM_COMMAND:
      // Escape or Enter must not end the notice under the running worker,
      // which still uses it; only the worker ends it.
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        result = 0;
        return true;
      }
      return false;
    case WM_CLOSE:
      result = 0;
      return true;
    default:
      return false;
  }
}

void UploadDialog::OnPaint() {
  HWND hwnd = Hwnd();
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(hwnd, &ps);
  RECT client{};
  GetClientRect(hwnd, &client);
  if (IsIconic(hwnd)) {
    SendMessageA(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const int x = (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, icon_);
  } else {
    // A one-pixel frame in the default pen, drawn on the erased background.
    const int w = client.right, h = client.bottom;
    MoveToEx(dc, 1, 1, nullptr);
    LineTo(dc, w - 1, 1);
    LineTo(dc, w - 1, h - 1);
    LineTo(dc, 1, h - 1);
    LineTo(dc, 1, 1);
  }
  EndPaint(hwnd, &ps);
}

}  // namespace zf
