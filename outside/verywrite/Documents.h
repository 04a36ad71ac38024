#pragma once
// Open documents by handle. Callers get a 32-bit number, not a pointer: the
// library is 64-bit here, its results are 32-bit.
#include <windows.h>

#include <map>
#include <memory>
#include <mutex>

#include "PdfDocument.h"
#include "WinFiles.h"

namespace verywrite {

struct Document {
  std::mutex lock;  // one call at a time on a document
  PdfDocument pdf;
  OutputFile output;
};

class DocumentTable {
 public:
  // A new handle for the document, 0 when too many are open.
  LONG Add(std::shared_ptr<Document> document);
  // The document, or null for a handle that is not (or no longer) open.
  std::shared_ptr<Document> Find(LONG handle) const;
  // Takes the document out of the table; null when it was not there.
  std::shared_ptr<Document> Remove(LONG handle);

 private:
  static constexpr std::size_t kMaxOpen = 256;

  mutable std::mutex lock_;
  std::map<LONG, std::shared_ptr<Document>> open_;
  LONG last_ = 0;
};

DocumentTable& Documents();

}  // namespace verywrite
