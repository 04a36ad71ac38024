#pragma once
// The upload program's notice: a translucent, click-through window in the lower
// right corner of the screen that shows the page being saved. The upload worker
// runs the job and ends the dialog.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "AppFramework.h"
#include "Owners.h"

namespace zf {

class UploadDialog : public Dialog {
 public:
  explicit UploadDialog(std::string commandLine);

  const std::string& CommandLine() const { return commandLine_; }
  // Set by the worker from the document's file status.
  void SetDocumentSize(std::int64_t size) { documentSize_ = size; }

 protected:
  bool OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;

 private:
  void OnPaint();

  std::string commandLine_;
  UniqueGdiObject whiteBrush_;
  HICON icon_ = nullptr;  // shared resource icon, not freed
  std::atomic<std::int64_t> documentSize_{0};
};

}  // namespace zf
