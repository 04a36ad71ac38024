#pragma once
// Test images and PDF inspection shared by the native and the Win32 tests.
// Standard C++ types only.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace verywrite_test {

enum class PageKind { kBilevel, kRgb, kGray, kPalette };

struct TestPage {
  PageKind kind = PageKind::kBilevel;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  float xDpi = 300;
  float yDpi = 300;
  // Bilevel: rows of (width+7)/8 bytes, 1 = black (as the capture stores them).
  // RGB: 3 bytes a pixel; grey: 1 byte; palette: 1 index byte, see PaletteRgb.
  std::vector<unsigned char> pixels;
  // How the page goes into the TIFF.
  bool blackIsZero = false;   // bilevel photometric 1 instead of 0 (pixels inverted in the file)
  bool oneStrip = false;      // one strip for the page instead of one row a strip
  std::uint16_t compression = 0;  // 0: as the capture (G4 for bilevel, none for colour)
};

// Page contents that look like a rendered web page: text-like runs, rules, blocks,
// a gradient and a noisy "photo". Deterministic for a given seed.
TestPage BilevelPage(std::uint32_t width, std::uint32_t height, float xDpi, float yDpi,
                     unsigned seed);
TestPage ColourPage(PageKind kind, std::uint32_t width, std::uint32_t height, float dpi,
                    unsigned seed);

// The palette used for kPalette pages: index -> r, g, b.
void PaletteRgb(unsigned index, unsigned char rgb[3]);

// The expected rendering: PBM (P4) bytes for bilevel pages, PPM (P6) for the others.
std::string ExpectedNetpbm(const TestPage& page);

// A multi-page TIFF file's bytes, written with libtiff in the capture's layout.
std::vector<unsigned char> TiffBytes(const std::vector<TestPage>& pages);

// What qpdf reads from a PDF; ok is false when it cannot be opened or warns.
struct PdfSummary {
  bool ok = false;
  std::string problem;
  int pages = 0;
  std::vector<std::pair<double, double>> pageSizes;  // MediaBox width, height in points
  std::string title, subject, author, keywords, creator;
};
PdfSummary InspectPdf(const std::vector<unsigned char>& pdf);

// qpdf --check on the document: true when it finds no errors; *report gets its output.
bool QpdfCheck(const std::vector<unsigned char>& pdf, std::string* report);

// One page (1-based) rendered by pdftoppm without anti-aliasing: PBM bytes when mono,
// PPM otherwise; empty when pdftoppm fails.
std::string RenderPage(const std::vector<unsigned char>& pdf, int page, float xDpi, float yDpi,
                       bool mono);

// Where two netpbm images first differ (size() of the shorter when one is a prefix),
// or npos when they are equal.
std::size_t FirstDifference(const std::string& a, const std::string& b);

}  // namespace verywrite_test
