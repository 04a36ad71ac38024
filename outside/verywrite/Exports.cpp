// The library's entry points. Each catches what the core or the allocator throws:
// nothing may unwind into a caller that knows only 32-bit results.
#include "verywrite.h"

#include <exception>
#include <string>
#include <vector>

#include "AnsiText.h"
#include "Documents.h"
#include "WinFiles.h"

namespace verywrite {
namespace {

template <typename Fn>
LONG Guarded(Fn fn) {
  try {
    return fn();
  } catch (const std::exception&) {
    return 0;
  }
}

// Runs fn on an open document under its lock; 0 for a bad handle.
template <typename Fn>
LONG WithDocument(LONG handle, Fn fn) {
  return Guarded([&]() -> LONG {
    const std::shared_ptr<Document> document = Documents().Find(handle);
    if (!document) return 0;
    std::lock_guard<std::mutex> hold(document->lock);
    return fn(*document);
  });
}

LONG AddTiffPages(Document& document, const unsigned char* data, std::size_t size) {
  const std::size_t before = document.pdf.PageCount();
  if (!document.pdf.AddTiff(data, size)) return 0;
  return static_cast<LONG>(document.pdf.PageCount() - before);
}

}  // namespace
}  // namespace verywrite

using verywrite::Document;
using verywrite::Documents;

extern "C" LONG WINAPI VeryCreate(LPCSTR pdfPath) {
  return verywrite::Guarded([&]() -> LONG {
    if (!pdfPath || !*pdfPath) return 0;
    auto document = std::make_shared<Document>();
    if (!document->output.Create(pdfPath)) return 0;
    // Without a handle the document is dropped and its empty file removed.
    return Documents().Add(std::move(document));
  });
}

extern "C" LONG WINAPI VeryAddInfo(LONG handle, LPCSTR title, LPCSTR subject, LPCSTR author,
                                   LPCSTR keywords, LPCSTR creator) {
  return verywrite::WithDocument(handle, [&](Document& document) -> LONG {
    using verywrite::Utf8FromWindows1252;
    document.pdf.SetInfo({Utf8FromWindows1252(title), Utf8FromWindows1252(subject),
                          Utf8FromWindows1252(author), Utf8FromWindows1252(keywords),
                          Utf8FromWindows1252(creator)});
    return 1;
  });
}

extern "C" LONG WINAPI VerySetFunction(LONG handle, LONG function, LONG value, LONG arg1,
                                       LONG arg2, LONG arg3) {
  return verywrite::WithDocument(handle, [&](Document& document) -> LONG {
    constexpr LONG kEncodings = kVeryBilevelG4 | kVeryColourFlate;
    if (function != kVeryImageEncoding || value != kEncodings || arg1 < 1 || arg1 > 3 ||
        arg2 != 0 || arg3 != 0)
      return 0;
    document.pdf.SetFlateLevel(verywrite::kFlateLevelForEffort[arg1 - 1]);
    return 1;
  });
}

extern "C" LONG WINAPI VeryAddImage(LONG handle, LPCSTR tiffPath) {
  return verywrite::WithDocument(handle, [&](Document& document) -> LONG {
    verywrite::MappedFile tiff;
    if (!tiffPath || !tiff.Open(tiffPath)) return 0;
    return verywrite::AddTiffPages(document, tiff.data(), tiff.size());
  });
}

extern "C" LONG WINAPI VeryAddImageData(LONG handle, const void* data, LONG size) {
  return verywrite::WithDocument(handle, [&](Document& document) -> LONG {
    if (!data || size <= 0) return 0;
    return verywrite::AddTiffPages(document, static_cast<const unsigned char*>(data),
                                   static_cast<std::size_t>(size));
  });
}

extern "C" LONG WINAPI VeryAddText(LONG handle, LPCSTR text) {
  return verywrite::WithDocument(handle, [&](Document& document) -> LONG {
    if (!text) return 0;
    const std::size_t before = document.pdf.PageCount();
    if (!document.pdf.AddText(text)) return 0;
    return static_cast<LONG>(document.pdf.PageCount() - before);
  });
}

extern "C" LONG WINAPI VeryClose(LONG handle) {
  return verywrite::Guarded([&]() -> LONG {
    const std::shared_ptr<Document> document = Documents().Remove(handle);
    if (!document) return 0;
    std::lock_guard<std::mutex> hold(document->lock);
    std::vector<unsigned char> pdf;
    // No pages, no document: the output file goes when the document does.
    if (!document->pdf.Write(&pdf)) return 0;
    return document->output.Finish(pdf) ? 1 : 0;
  });
}
