#pragma once
#include <string>

namespace pagetrap {

// Starts "ZentrafoldUpload.exe" from the "ModuleLocation" folder on the
// document; nothing when the folder is not configured. Not waited for.
void StartUploader(const std::string& pdf);

// "\"<program>\" \"<document>\"": the uploader's command line.
std::string UploaderCommandLine(const std::string& program, const std::string& pdf);

}  // namespace pagetrap
