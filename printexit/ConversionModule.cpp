#include "ConversionModule.h"

#include <shlwapi.h>

#include <utility>

#include "Messages.h"
#include "SettingsValue.h"

namespace pagetrap {
namespace {

template <typename Fn>
bool Look(HMODULE module, const char* name, Fn& fn) {
  fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return fn != nullptr;
}

}  // namespace

bool ConversionModule::Bind() {
  const auto folder = ReadModuleLocation();
  if (!folder) return false;
  module_ = LoadLibraryA(JoinPath(*folder, "verywrite.dll").c_str());
  if (!module_) return false;
  return Look(module_, "VeryCreate", create_) && Look(module_, "VeryAddImage", addImage_) &&
         Look(module_, "VeryClose", close_) && Look(module_, "VerySetFunction", setFunction_) &&
         Look(module_, "VeryAddInfo", addInfo_) && Look(module_, "VeryAddText", addText_) &&
         Look(module_, "VeryAddImageData", addImageData_);
}

bool ConversionModule::Convert(const std::string& tiff, const std::string& pdf) {
  const bool converted = ConvertOpen(tiff, pdf);
  if (document_) close_(std::exchange(document_, 0));
  return converted;
}

bool ConversionModule::ConvertOpen(const std::string& tiff, const std::string& pdf) {
  // A file left at the path that cannot be removed is not passed off as this
  // job's document.
  if (PathFileExistsA(pdf.c_str()) && !DeleteFileA(pdf.c_str())) return false;
  document_ = create_(pdf.c_str());
  if (!document_) return false;
  if (!addInfo_(document_, "Zentrafold Saved Page", "", "Zentrafold", "Keywords", "Zentrafold"))
    return false;
  if (!setFunction_(document_, 121, 4100, 2, 0, 0)) return false;
  return addImage_(document_, tiff.c_str()) != 0;
}

bool ConvertToPdf(const std::string& tiff, const std::string& pdf) {
  ConversionModule conversion;
  if (!conversion.Bind()) {
    ShowMessage(kNoConversionModule, kProductCaption);
    return false;
  }
  return conversion.Convert(tiff, pdf);
}

}  // namespace pagetrap
