#pragma once
// The upload program: shows the notice for one document and ends with it.
#include <string>

#include "AppFramework.h"

namespace zf {

class UploadApp : public App {
 protected:
  bool InitInstance() override;

 private:
  std::string commandLine_;
};

}  // namespace zf
