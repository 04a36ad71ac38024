// The conversion core against the tools a reader of its output would use:
// qpdf checks the structure, poppler reports pages and images and renders them.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "PdfDocument.h"
#include "TestImages.h"

namespace {

using verywrite::DocumentInfo;
using verywrite::PdfDocument;
using verywrite_test::PageKind;
using verywrite_test::TestPage;

struct CommandResult {
  int status = -1;
  std::string output;
};

CommandResult RunShell(const std::string& command) {
  CommandResult result;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return result;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) result.output.append(buf, n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/verywrite-test-XXXXXX";
    path_ = mkdtemp(name) ? name : "";
  }
  ~TempDir() {
    if (!path_.empty() && !getenv("VERYWRITE_KEEP")) RunShell("rm -rf '" + path_ + "'");
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A "Name: value" line of pdfinfo's report; runs of spaces in the name match one.
std::string InfoField(const std::string& report, const std::string& name,
                      const std::string& missing = "") {
  std::istringstream lines(report);
  std::string line;
  while (std::getline(lines, line)) {
    std::string squeezed;
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    for (char ch : line.substr(0, colon))
      if (ch != ' ' || (!squeezed.empty() && squeezed.back() != ' ')) squeezed += ch;
    if (squeezed != name) continue;
    const size_t value = line.find_first_not_of(' ', colon + 1);
    return value == std::string::npos ? "" : line.substr(value);
  }
  return missing;
}

const DocumentInfo kInfo{"Zentrafold Saved Page", "", "Zentrafold", "Keywords", "Zentrafold"};

// One row of pdfimages -list.
struct ListedImage {
  int page = 0;
  std::uint32_t width = 0, height = 0;
  std::string color, encoding;
  int bpc = 0;
  int xPpi = 0, yPpi = 0;
};

std::vector<ListedImage> ListImages(const std::string& pdf) {
  std::vector<ListedImage> images;
  std::istringstream lines(RunShell("pdfimages -list '" + pdf + "'").output);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream f(line);
    ListedImage im;
    int num = 0;
    std::string type, comp, interp, object, id;
    // Header and rule lines do not start with a page number.
    if (!(f >> im.page >> num >> type >> im.width >> im.height >> im.color >> comp >> im.bpc >>
          im.encoding >> interp >> object >> id >> im.xPpi >> im.yPpi))
      continue;
    images.push_back(im);
  }
  return images;
}

struct ConvertCase {
  const char* name;
  std::vector<TestPage> pages;
};

std::vector<ConvertCase> Cases() {
  std::vector<ConvertCase> cases;
  // The capture's layout: G4, WhiteIsZero, one row a strip.
  cases.push_back({"fax_two_pages", {verywrite_test::BilevelPage(1728, 2200, 204, 196, 1),
                                     verywrite_test::BilevelPage(1728, 1100, 204, 196, 2)}});
  cases.push_back({"bilevel_300dpi_letter", {verywrite_test::BilevelPage(2552, 3300, 300, 300, 3)}});
  cases.push_back({"rgb_300dpi", {verywrite_test::ColourPage(PageKind::kRgb, 2552, 1650, 300, 4)}});
  cases.push_back({"mixed", {verywrite_test::BilevelPage(1728, 600, 204, 196, 5),
                             verywrite_test::ColourPage(PageKind::kRgb, 850, 1100, 100, 6),
                             verywrite_test::BilevelPage(2552, 800, 300, 300, 7)}});
  TestPage odd = verywrite_test::BilevelPage(1001, 700, 150, 150, 8);  // ragged last byte
  odd.blackIsZero = true;
  odd.oneStrip = true;  // taken over without re-encoding
  TestPage packed = verywrite_test::BilevelPage(640, 480, 72, 72, 9);
  packed.compression = 32773;  // PackBits
  cases.push_back({"bilevel_variants", {odd, packed}});
  // Colour pages in layouts other than the capture's: several rows a strip, LZW.
  TestPage tall = verywrite_test::ColourPage(PageKind::kRgb, 777, 555, 120, 16);
  tall.oneStrip = true;
  TestPage lzw = verywrite_test::ColourPage(PageKind::kGray, 640, 480, 200, 17);
  lzw.compression = 5;
  cases.push_back({"colour_strips_and_lzw", {tall, lzw}});
  cases.push_back({"grey_and_palette", {verywrite_test::ColourPage(PageKind::kGray, 600, 400, 96, 10),
                                        verywrite_test::ColourPage(PageKind::kPalette, 500, 300, 96, 11)}});
  return cases;
}

void PrintTo(const ConvertCase& c, std::ostream* os) { *os << c.name; }

class ConvertTest : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertTest, ReadersSeeTheTiffPages) {
  const ConvertCase& c = GetParam();
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string pdfPath = dir.path() + "/out.pdf";

  const std::vector<unsigned char> tiff = verywrite_test::TiffBytes(c.pages);
  PdfDocument doc;
  doc.SetInfo(kInfo);
  std::string error;
  ASSERT_TRUE(doc.AddTiff(tiff.data(), tiff.size(), &error)) << error;
  ASSERT_EQ(c.pages.size(), doc.PageCount());
  std::vector<unsigned char> pdf;
  ASSERT_TRUE(doc.Write(&pdf, &error)) << error;
  WriteFile(pdfPath, pdf);

  const CommandResult check = RunShell("qpdf --check '" + pdfPath + "'");
  EXPECT_EQ(0, check.status) << check.output;
  EXPECT_NE(std::string::npos, check.output.find("No syntax or stream encoding errors")) << check.output;

  const CommandResult info = RunShell("pdfinfo -f 1 -l 999 '" + pdfPath + "'");
  ASSERT_EQ(0, info.status) << info.output;
  EXPECT_EQ("Zentrafold Saved Page", InfoField(info.output, "Title")) << info.output;
  EXPECT_EQ("", InfoField(info.output, "Subject", "(missing)")) << info.output;
  EXPECT_EQ("Zentrafold", InfoField(info.output, "Author")) << info.output;
  EXPECT_EQ("Keywords", InfoField(info.output, "Keywords")) << info.output;
  EXPECT_EQ("Zentrafold", InfoField(info.output, "Creator")) << info.output;
  EXPECT_EQ(std::to_string(c.pages.size()), InfoField(info.output, "Pages")) << info.output;
  for (size_t i = 0; i < c.pages.size(); ++i) {
    const TestPage& p = c.pages[i];
    double w = 0, h = 0;
    const std::string size = InfoField(info.output, "Page " + std::to_string(i + 1) + " size");
    EXPECT_EQ(2, std::sscanf(size.c_str(), "%lf x %lf pts", &w, &h)) << size;
    EXPECT_NEAR(p.width * 72.0 / p.xDpi, w, 0.01) << "page " << i + 1;
    EXPECT_NEAR(p.height * 72.0 / p.yDpi, h, 0.01) << "page " << i + 1;
  }

  const std::vector<ListedImage> images = ListImages(pdfPath);
  ASSERT_EQ(c.pages.size(), images.size()) << RunShell("pdfimages -list '" + pdfPath + "'").output;
  for (size_t i = 0; i < c.pages.size(); ++i) {
    SCOPED_TRACE("page " + std::to_string(i + 1));
    const TestPage& p = c.pages[i];
    const ListedImage& im = images[i];
    EXPECT_EQ(static_cast<int>(i + 1), im.page);
    EXPECT_EQ(p.width, im.width);
    EXPECT_EQ(p.height, im.height);
    EXPECT_EQ(std::lround(p.xDpi), im.xPpi);
    EXPECT_EQ(std::lround(p.yDpi), im.yPpi);
    if (p.kind == PageKind::kBilevel) {
      EXPECT_EQ("gray", im.color);
      EXPECT_EQ(1, im.bpc);
      EXPECT_EQ("ccitt", im.encoding);
    } else {
      EXPECT_EQ(p.kind == PageKind::kGray ? "gray" : "rgb", im.color);
      EXPECT_EQ(8, im.bpc);
      EXPECT_EQ("image", im.encoding);  // poppler's name for Flate-coded pixels
    }
  }
  // Image dictionaries are never in object streams, so the filters show in the file.
  const std::string raw(pdf.begin(), pdf.end());
  auto count = [&](const std::string& what) {
    size_t n = 0;
    for (size_t at = raw.find(what); at != std::string::npos; at = raw.find(what, at + 1)) ++n;
    return n;
  };
  size_t bilevelPages = 0;
  for (const TestPage& p : c.pages) bilevelPages += p.kind == PageKind::kBilevel;
  EXPECT_EQ(bilevelPages, count("/CCITTFaxDecode"));
  EXPECT_EQ(c.pages.size() - bilevelPages, count("/FlateDecode /Height"));

  // Rendered at the page's own resolution, every pixel must come back.
  for (size_t i = 0; i < c.pages.size(); ++i) {
    SCOPED_TRACE("render page " + std::to_string(i + 1));
    const TestPage& p = c.pages[i];
    const std::string rendered = verywrite_test::RenderPage(pdf, static_cast<int>(i + 1), p.xDpi, p.yDpi,
                                                            p.kind == PageKind::kBilevel);
    const std::string expected = verywrite_test::ExpectedNetpbm(p);
    ASSERT_EQ(expected.size(), rendered.size()) << "header " << rendered.substr(0, 20);
    EXPECT_EQ(std::string::npos, verywrite_test::FirstDifference(expected, rendered))
        << "first differing byte at " << verywrite_test::FirstDifference(expected, rendered);
  }
}

INSTANTIATE_TEST_SUITE_P(Pages, ConvertTest, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<ConvertCase>& info) { return info.param.name; });

TEST(PdfDocumentTest, CaptureLikeFaxPageIsOneG4Stream) {
  const std::vector<unsigned char> tiff =
      verywrite_test::TiffBytes({verywrite_test::BilevelPage(1728, 2200, 204, 196, 12)});
  PdfDocument doc;
  ASSERT_TRUE(doc.AddTiff(tiff.data(), tiff.size()));
  std::vector<unsigned char> pdf;
  ASSERT_TRUE(doc.Write(&pdf));
  const std::string text(pdf.begin(), pdf.end());
  EXPECT_NE(std::string::npos, text.find("/CCITTFaxDecode"));
  EXPECT_NE(std::string::npos, text.find("/K -1"));
  EXPECT_NE(std::string::npos, text.find("/Columns 1728"));
  EXPECT_NE(std::string::npos, text.find("/Rows 2200"));
  EXPECT_NE(std::string::npos, text.find("/BlackIs1 false"));
  // Re-encoded as one stream, the page is no bigger than its one-row strips.
  EXPECT_LT(pdf.size(), tiff.size());
}

TEST(PdfDocumentTest, RejectsWhatIsNotAWholeTiff) {
  const std::vector<unsigned char> good = verywrite_test::TiffBytes(
      {verywrite_test::BilevelPage(800, 600, 100, 100, 13), verywrite_test::BilevelPage(800, 600, 100, 100, 14)});
  const std::string text = "This is not a TIFF image at all.";
  struct Case {
    const char* name;
    std::vector<unsigned char> bytes;
  } cases[] = {
      {"empty", {}},
      {"text", std::vector<unsigned char>(text.begin(), text.end())},
      {"header only", std::vector<unsigned char>(good.begin(), good.begin() + 8)},
      {"cut in half", std::vector<unsigned char>(good.begin(), good.begin() + static_cast<long>(good.size() / 2))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PdfDocument doc;
    std::string error;
    EXPECT_FALSE(doc.AddTiff(c.bytes.data(), c.bytes.size(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(0u, doc.PageCount());  // nothing half-added
  }
}

TEST(PdfDocumentTest, NoPagesNoDocument) {
  PdfDocument doc;
  std::vector<unsigned char> pdf;
  std::string error;
  EXPECT_FALSE(doc.Write(&pdf, &error));
  EXPECT_EQ("the document has no pages", error);
}

TEST(PdfDocumentTest, TextPagesAndInfoInWindows1252) {
  TempDir dir;
  const std::string pdfPath = dir.path() + "/text.pdf";
  PdfDocument doc;
  DocumentInfo info = kInfo;
  info.title = "Caf\xc3\xa9 (saved)";  // UTF-8
  doc.SetInfo(info);
  std::string text = "First line (with parentheses) \\ and a backslash\r\nSecond line: caf\xe9\n";
  for (int i = 0; i < 70; ++i) text += "line " + std::to_string(i) + "\n";
  ASSERT_TRUE(doc.AddText(text));
  EXPECT_EQ(2u, doc.PageCount());
  std::vector<unsigned char> pdf;
  ASSERT_TRUE(doc.Write(&pdf));
  WriteFile(pdfPath, pdf);
  EXPECT_EQ(0, RunShell("qpdf --check '" + pdfPath + "'").status);
  const CommandResult info2 = RunShell("pdfinfo '" + pdfPath + "'");
  EXPECT_NE(std::string::npos, info2.output.find("Title:           Caf\xc3\xa9 (saved)")) << info2.output;
  const CommandResult words = RunShell("pdftotext -enc UTF-8 '" + pdfPath + "' -");
  EXPECT_NE(std::string::npos, words.output.find("First line (with parentheses) \\ and a backslash"))
      << words.output;
  EXPECT_NE(std::string::npos, words.output.find("Second line: caf\xc3\xa9")) << words.output;
  EXPECT_NE(std::string::npos, words.output.find("line 69")) << words.output;
}

TEST(PdfDocumentTest, InspectorReadsWhatWasWritten) {
  const std::vector<unsigned char> tiff =
      verywrite_test::TiffBytes({verywrite_test::ColourPage(PageKind::kRgb, 300, 200, 300, 15)});
  PdfDocument doc;
  doc.SetInfo(kInfo);
  ASSERT_TRUE(doc.AddTiff(tiff.data(), tiff.size()));
  ASSERT_TRUE(doc.AddTiff(tiff.data(), tiff.size()));
  std::vector<unsigned char> pdf;
  ASSERT_TRUE(doc.Write(&pdf));
  const verywrite_test::PdfSummary s = verywrite_test::InspectPdf(pdf);
  EXPECT_TRUE(s.ok) << s.problem;
  EXPECT_EQ(2, s.pages);
  EXPECT_EQ("Zentrafold Saved Page", s.title);
  EXPECT_EQ("", s.subject);
  EXPECT_EQ("Zentrafold", s.author);
  EXPECT_EQ("Keywords", s.keywords);
  EXPECT_EQ("Zentrafold", s.creator);
}

}  // namespace
