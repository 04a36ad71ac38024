#pragma once
// The upload worker of the notice and one upload attempt.
#include <windows.h>

#include <string>

#include "JobFile.h"

namespace zf {

// Upload attempts per document.
constexpr int kUploadAttempts = 3;

// The document path in the command line: every double quote stripped from its
// right end, then from its left end; nothing else is parsed.
std::string DocumentPathFromCommandLine(const std::string& commandLine);

// One attempt with a fresh service client; the document is deleted once the
// service has taken it.
bool Upload(const UploadJob& job);

// The worker thread of UploadDialog (its argument): fades the notice in, runs
// the job, reports a failure, fades out and ends the dialog.
DWORD WINAPI UploadWorker(void* dialog);

}  // namespace zf
