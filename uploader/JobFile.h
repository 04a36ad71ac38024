#pragma once
// The job file "prpt.job": what the user typed in the Save Page dialog, carried
// from the toolbar to the upload program. Narrow strings in the ANSI code page.
#include <string>

namespace zf {

// In the upload program the job's fields, after the document's own path.
struct UploadJob {
  std::string documentPath;
  std::string title;
  std::string notes;
  std::string folderId;
};

// Field limits of the writer.
constexpr size_t kJobTitleMax = 254;
constexpr size_t kJobNotesMax = 1023;
constexpr size_t kJobFolderIdMax = 36;

// Writer (toolbar): <CSIDL_APPDATA>\Zentrafold\prpt.job. False when the
// application-data folder is unavailable or the file cannot be written.
bool WriteJob(const std::string& title, const std::string& notes, const std::string& folderId);

// Reader (upload program): the job beside documentPath, deleted once read.
bool ReadJob(const std::string& documentPath, UploadJob& job);

// Where ReadJob looks: the document's folder (up to its last backslash) and
// "prpt.job"; without any backslash, "\prpt.job" in the current drive's root.
std::string JobPathBeside(const std::string& documentPath);

}  // namespace zf
