#pragma once
// The outside conversion library verywrite.dll, bound at run time from the
// "ModuleLocation" folder. Its arguments and results are 32-bit; a nonzero
// result means success.
#include <windows.h>

#include <string>

namespace pagetrap {

class ConversionModule {
 public:
  // Loads the library and looks up its entry points; false when any is missing.
  bool Bind();
  // Turns the TIFF into a new PDF at pdf; true when the image was added.
  bool Convert(const std::string& tiff, const std::string& pdf);

 private:
  using CreateFn = INT(WINAPI*)(const char* pdf);
  using AddImageFn = INT(WINAPI*)(INT document, const char* tiff);
  using CloseFn = INT(WINAPI*)(INT document);
  using SetFunctionFn = INT(WINAPI*)(INT document, INT code, INT value, INT a, INT b, INT c);
  using AddInfoFn = INT(WINAPI*)(INT document, const char* title, const char* subject,
                                 const char* author, const char* keywords, const char* creator);
  using AddImageDataFn = FARPROC;  // required, never called
  using AddTextFn = FARPROC;       // required, never called

  bool ConvertOpen(const std::string& tiff, const std::string& pdf);

  // The library is never freed: it stays loaded for the next job.
  HMODULE module_ = nullptr;
  CreateFn create_ = nullptr;
  AddImageFn addImage_ = nullptr;
  CloseFn close_ = nullptr;
  SetFunctionFn setFunction_ = nullptr;
  AddInfoFn addInfo_ = nullptr;
  AddImageDataFn addImageData_ = nullptr;
  AddTextFn addText_ = nullptr;
  INT document_ = 0;
};

// Binds the library and converts; says so when the library cannot be bound.
bool ConvertToPdf(const std::string& tiff, const std::string& pdf);

}  // namespace pagetrap
