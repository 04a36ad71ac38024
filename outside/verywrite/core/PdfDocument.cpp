// The PDF side of the conversion: one page per image, each page exactly the
// image's size at its own resolution, written with qpdf.
#include "PdfDocument.h"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>

#include "PageImage.h"

namespace verywrite {
namespace {

constexpr double kLetterWidth = 612, kLetterHeight = 792, kMargin = 72;
constexpr double kFontSize = 11, kLeading = 13;
constexpr std::size_t kCharsPerLine = 90;

std::string Number(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%.5f", value);
  std::string s(text);
  while (!s.empty() && s.back() == '0') s.pop_back();
  if (!s.empty() && s.back() == '.') s.pop_back();
  return s.empty() || s == "-0" ? "0" : s;
}

// The largest value of five decimals (what Number keeps) that is below points.
// Renderers map an image edge that falls exactly on a pixel boundary one pixel
// further (an image of 612.48 pt at 300 dpi covers 2553 pixels in poppler), so even
// an exact size such as 612.48 becomes 612.47999. The tolerance absorbs binary
// rounding of points * 1e5.
double JustUnder(double points) { return (std::ceil(points * 1e5 - 1e-6) - 1) / 1e5; }

void SetError(std::string* error, const std::string& text) {
  if (error) *error = text;
}

// Lines of a text page, long lines broken at a fixed width.
std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (char c : text) {
    if (c == '\r') continue;
    if (c == '\n') {
      lines.emplace_back();
      continue;
    }
    if (lines.back().size() == kCharsPerLine) lines.emplace_back();
    lines.back() += (static_cast<unsigned char>(c) < 0x20) ? ' ' : c;
  }
  return lines;
}

std::string PdfLiteral(const std::string& line) {
  std::string out = "(";
  for (char c : line) {
    if (c == '(' || c == ')' || c == '\\') out += '\\';
    out += c;
  }
  return out + ")";
}

}  // namespace

// A text page is kept as its content stream; image pages as their encoded image.
struct PagePart {
  PageImage image;
  std::string textContent;  // empty for image pages
};

struct PdfDocument::Impl {
  DocumentInfo info;
  int flateLevel = kDefaultFlateLevel;
  std::vector<PagePart> pages;

  void WriteImagePage(QPDF& pdf, QPDFPageDocumentHelper& pageTree, const PageImage& image) const;
  void WriteTextPage(QPDF& pdf, QPDFPageDocumentHelper& pageTree, const std::string& content,
                     QPDFObjectHandle& font) const;
  void WriteInfo(QPDF& pdf) const;
};

void PdfDocument::Impl::WriteImagePage(QPDF& pdf, QPDFPageDocumentHelper& pageTree,
                                       const PageImage& image) const {
  QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
  dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
  dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
  dict.replaceKey("/Width", QPDFObjectHandle::newInteger(image.width));
  dict.replaceKey("/Height", QPDFObjectHandle::newInteger(image.height));
  QPDFObjectHandle filter, parms = QPDFObjectHandle::newNull();
  if (image.kind == ImageKind::kBilevelG4) {
    dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName("/DeviceGray"));
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(1));
    filter = QPDFObjectHandle::newName("/CCITTFaxDecode");
    parms = QPDFObjectHandle::parse("<< /K -1 >>");
    parms.replaceKey("/Columns", QPDFObjectHandle::newInteger(image.width));
    parms.replaceKey("/Rows", QPDFObjectHandle::newInteger(image.height));
    parms.replaceKey("/BlackIs1", QPDFObjectHandle::newBool(image.blackIs1));
  } else {
    dict.replaceKey("/ColorSpace", QPDFObjectHandle::newName(
                                       image.kind == ImageKind::kRgbFlate ? "/DeviceRGB" : "/DeviceGray"));
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    filter = QPDFObjectHandle::newName("/FlateDecode");
    if (image.pngRows) {
      parms = QPDFObjectHandle::parse("<< /Predictor 15 /BitsPerComponent 8 >>");
      parms.replaceKey("/Colors", QPDFObjectHandle::newInteger(image.kind == ImageKind::kRgbFlate ? 3 : 1));
      parms.replaceKey("/Columns", QPDFObjectHandle::newInteger(image.width));
    }
  }
  // The page's data outlives the writer, so qpdf may read it in place.
  auto data = std::make_shared<Buffer>(const_cast<unsigned char*>(image.data.data()), image.data.size());
  QPDFObjectHandle xobject = pdf.newStream();
  xobject.replaceDict(dict);
  xobject.replaceStreamData(data, filter, parms);

  // Page and image share one size, a hair under the exact one: rendered at the
  // image's resolution the page is then exactly the image's pixels (renderers round
  // the page size up; an image reaching past the page loses its last column).
  const double w = JustUnder(image.width * 72.0 / image.xDpi);
  const double h = JustUnder(image.height * 72.0 / image.yDpi);
  QPDFObjectHandle content =
      pdf.newStream("q " + Number(w) + " 0 0 " + Number(h) + " 0 0 cm /Im0 Do Q\n");
  QPDFObjectHandle page = QPDFObjectHandle::parse(
      "<< /Type /Page /Resources << /XObject << >> >> >>");
  page.replaceKey("/MediaBox", QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(0, 0, w, h)));
  page.getKey("/Resources").getKey("/XObject").replaceKey("/Im0", xobject);
  page.replaceKey("/Contents", content);
  pageTree.addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
}

// All text pages share one font object, made with the first of them.
void PdfDocument::Impl::WriteTextPage(QPDF& pdf, QPDFPageDocumentHelper& pageTree,
                                      const std::string& content, QPDFObjectHandle& font) const {
  if (!font.isInitialized())
    font = pdf.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>"));
  QPDFObjectHandle page = QPDFObjectHandle::parse("<< /Type /Page /Resources << /Font << >> >> >>");
  page.replaceKey("/MediaBox", QPDFObjectHandle::newArray(
                                   QPDFObjectHandle::Rectangle(0, 0, kLetterWidth, kLetterHeight)));
  page.getKey("/Resources").getKey("/Font").replaceKey("/F1", font);
  page.replaceKey("/Contents", pdf.newStream(content));
  pageTree.addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
}

void PdfDocument::Impl::WriteInfo(QPDF& pdf) const {
  QPDFObjectHandle dict = QPDFObjectHandle::newDictionary();
  const std::pair<const char*, const std::string*> fields[] = {
      {"/Title", &info.title},       {"/Subject", &info.subject}, {"/Author", &info.author},
      {"/Keywords", &info.keywords}, {"/Creator", &info.creator}};
  // Empty strings are kept too: readers then show the field as set and empty.
  for (const auto& [key, value] : fields) dict.replaceKey(key, QPDFObjectHandle::newUnicodeString(*value));
  dict.replaceKey("/Producer", QPDFObjectHandle::newUnicodeString("verywrite"));
  char date[32];
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(date, sizeof date, "D:%Y%m%d%H%M%SZ", &utc);
  dict.replaceKey("/CreationDate", QPDFObjectHandle::newString(date));
  pdf.getTrailer().replaceKey("/Info", pdf.makeIndirectObject(dict));
}

PdfDocument::PdfDocument() : impl_(std::make_unique<Impl>()) {}
PdfDocument::~PdfDocument() = default;

void PdfDocument::SetInfo(const DocumentInfo& info) { impl_->info = info; }

void PdfDocument::SetFlateLevel(int level) { impl_->flateLevel = std::clamp(level, 1, 12); }

std::size_t PdfDocument::PageCount() const { return impl_->pages.size(); }

bool PdfDocument::AddTiff(const unsigned char* data, std::size_t size, std::string* error) {
  try {
    std::vector<PageImage> images;
    std::string why;
    if (!ReadTiffPages(data, size, impl_->flateLevel, &images, &why)) {
      SetError(error, why);
      return false;
    }
    impl_->pages.reserve(impl_->pages.size() + images.size());
    for (auto& image : images) impl_->pages.push_back(PagePart{std::move(image), {}});
    return true;
  } catch (const std::exception& e) {
    SetError(error, e.what());
    return false;
  }
}

bool PdfDocument::AddText(const std::string& windows1252, std::string* error) {
  try {
    const std::vector<std::string> lines = TextLines(windows1252);
    const auto perPage = static_cast<std::size_t>((kLetterHeight - 2 * kMargin) / kLeading);
    for (std::size_t first = 0; first < lines.size(); first += perPage) {
      std::string content = "BT /F1 " + Number(kFontSize) + " Tf " + Number(kLeading) + " TL " +
                            Number(kMargin) + " " + Number(kLetterHeight - kMargin - kFontSize) +
                            " Td\n";
      for (std::size_t i = first; i < lines.size() && i < first + perPage; ++i)
        content += PdfLiteral(lines[i]) + " Tj T*\n";
      content += "ET\n";
      impl_->pages.push_back(PagePart{PageImage{}, std::move(content)});
    }
    return true;
  } catch (const std::exception& e) {
    SetError(error, e.what());
    return false;
  }
}

bool PdfDocument::Write(std::vector<unsigned char>* out, std::string* error) const {
  if (impl_->pages.empty()) {
    SetError(error, "the document has no pages");
    return false;
  }
  try {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFPageDocumentHelper pageTree(pdf);
    QPDFObjectHandle font;
    for (const PagePart& part : impl_->pages) {
      if (part.textContent.empty())
        impl_->WriteImagePage(pdf, pageTree, part.image);
      else
        impl_->WriteTextPage(pdf, pageTree, part.textContent, font);
    }
    impl_->WriteInfo(pdf);

    QPDFWriter writer(pdf);
    writer.setOutputMemory();
    // Images are encoded already; the tiny content streams are not worth deflating.
    writer.setCompressStreams(false);
    writer.setDecodeLevel(qpdf_dl_none);
    writer.setObjectStreamMode(qpdf_o_generate);
    writer.write();
    std::shared_ptr<Buffer> buffer = writer.getBufferSharedPointer();
    out->assign(buffer->getBuffer(), buffer->getBuffer() + buffer->getSize());
    return true;
  } catch (const std::exception& e) {
    SetError(error, e.what());
    return false;
  }
}

}  // namespace verywrite
