// zfprint.exe against the recording exit module: call order and arguments,
// bands, row layouts and pixels as the exit module receives them, and the
// failures a user can run into.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../../../client/Owners.h"
#include "TestSupport.h"

namespace zf::printer::test {
namespace {

struct Band {
  int rows, width, type, resolution, more, stride;
  unsigned sum;
};
struct Page {
  std::vector<Band> bands;
};
struct Recording {
  bool wellFormed = true;  // startDoc, pages, endDoc in that order
  bool ended = false;      // endDocExit was called
  std::vector<Page> pages;
  std::vector<std::string> lines;
};

Recording ParseLog(const std::string& text) {
  Recording recording;
  recording.lines = SplitLines(text);
  bool started = false;
  for (const std::string& line : recording.lines) {
    if (line == "startDocExit") {
      recording.wellFormed &= !started;
      started = true;
    } else if (line == "startPageExit") {
      recording.wellFormed &= started && !recording.ended;
      recording.pages.emplace_back();
    } else if (line == "endDocExit") {
      recording.wellFormed &= started && !recording.ended;
      recording.ended = true;
    } else {
      Band band = {};
      const int fields =
          std::sscanf(line.c_str(),
                      "endPageExit rows=%d width=%d type=%d resolution=%d more=%d stride=%d sum=%x",
                      &band.rows, &band.width, &band.type, &band.resolution, &band.more,
                      &band.stride, &band.sum);
      recording.wellFormed &= fields == 7 && !recording.pages.empty() && !recording.ended;
      if (fields == 7 && !recording.pages.empty()) recording.pages.back().bands.push_back(band);
    }
  }
  return recording;
}

unsigned Fnv1a(const unsigned char* bytes, size_t size) {
  unsigned hash = 2166136261u;
  for (size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 16777619u;
  return hash;
}

// Whether the pixel is white or black in a row of the exit module's layout
// (type 1: a set bit is white, leftmost pixel in the high bit).
bool IsWhite(const unsigned char* row, int type, int x) {
  if (type == 1) return (row[x / 8] >> (7 - x % 8)) & 1;
  const unsigned char* p = row + 3 * x;
  return p[0] == 255 && p[1] == 255 && p[2] == 255;
}
bool IsBlack(const unsigned char* row, int type, int x) {
  if (type == 1) return !IsWhite(row, type, x);
  const unsigned char* p = row + 3 * x;
  return p[0] == 0 && p[1] == 0 && p[2] == 0;
}

// Checks the bands of every page against the expected page heights, band
// height, width, type, resolution and row stride; the bands' bytes must
// follow each other in `raw`.
void ExpectBands(const Recording& recording, const std::string& raw,
                 const std::vector<int>& heights, int bandRows, int width, int type,
                 int resolution, int stride) {
  ASSERT_EQ(heights.size(), recording.pages.size());
  size_t offset = 0;
  for (size_t p = 0; p < recording.pages.size(); ++p) {
    SCOPED_TRACE("page " + std::to_string(p + 1));
    const auto& bands = recording.pages[p].bands;
    int row = 0;
    for (size_t b = 0; b < bands.size(); ++b) {
      const Band& band = bands[b];
      const bool last = b + 1 == bands.size();
      EXPECT_EQ(last ? heights[p] - row : bandRows, band.rows) << "band " << b;
      EXPECT_EQ(last ? 0 : 1, band.more) << "band " << b;
      EXPECT_EQ(width, band.width);
      EXPECT_EQ(type, band.type);
      EXPECT_EQ(resolution, band.resolution);
      EXPECT_EQ(stride, band.stride);
      const size_t size = static_cast<size_t>(band.rows) * band.stride;
      ASSERT_LE(offset + size, raw.size());
      EXPECT_EQ(band.sum, Fnv1a(reinterpret_cast<const unsigned char*>(raw.data()) + offset, size))
          << "band " << b << " changed after the call";
      offset += size;
      row += band.rows;
    }
    EXPECT_EQ(heights[p], row);
  }
  EXPECT_EQ(raw.size(), offset);
}

class PrintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetExitModuleValue(DosPath(ZF_FAKE_EXIT));
    SetEnvironmentVariableA("ZF_FAKE_EXIT_LOG", log_.c_str());
    SetEnvironmentVariableA("ZF_FAKE_EXIT_BANDS", bands_.c_str());
    SetEnvironmentVariableA("ZF_FAKE_EXIT_FAIL", nullptr);
  }
  void TearDown() override {
    DeletePrinterKey();
    SetEnvironmentVariableA("ZF_FAKE_EXIT_LOG", nullptr);
    SetEnvironmentVariableA("ZF_FAKE_EXIT_BANDS", nullptr);
    SetEnvironmentVariableA("ZF_FAKE_EXIT_FAIL", nullptr);
  }

  long Run(const std::string& arguments) {
    DeleteFileA(log_.c_str());
    DeleteFileA(bands_.c_str());
    return RunWin32("\"" + DosPath(ZF_PRINT_PROGRAM) + "\" " + arguments, output_);
  }
  long Print(const std::string& document, const std::string& resolution, int type, int bandRows) {
    return Run("\"" + document + "\" " + resolution + " " + std::to_string(type) + " " +
               std::to_string(bandRows));
  }
  std::string Output() const { return ReadWholeFile(output_); }
  Recording Calls() const { return ParseLog(ReadWholeFile(log_)); }
  std::string Bands() const { return ReadWholeFile(bands_); }

  TempFolder temp_;
  std::string log_ = temp_.File("calls.log");
  std::string bands_ = temp_.File("bands.bin");
  std::string output_ = temp_.File("output.txt");
};

const std::string kRect = ZF_TEST_PAGES "/rect.ps";  // 101 x 50 points
const std::string kSample = ZF_SAMPLE_PDF;            // three Letter pages

// The test page is white with one black rectangle; every pixel is checked.
TEST_F(PrintTest, DeliversThePageInBandsWithTheRectangleInPlace) {
  struct RectCase {
    const char* resolution;
    int x, type, bandRows;
    int width, height, stride;                     // as delivered
    int rectLeft, rectTop, rectRight, rectBottom;  // black pixels
  };
  const RectCase cases[] = {
      // RGB keeps width 101: rows of 303 bytes stepped by 304; last band 2 rows.
      {"72", 72, 5, 16, 101, 50, 304, 16, 30, 40, 40},
      // 1 bit per pixel pads with white to 104 pixels, 13 bytes a row.
      {"72", 72, 1, 16, 104, 50, 13, 16, 30, 40, 40},
      // One band holding the whole page, exactly and with rows to spare.
      {"144", 144, 1, 100, 208, 100, 26, 32, 60, 80, 80},
      {"144", 144, 5, 1000, 202, 100, 608, 32, 60, 80, 80},
      // Horizontal x vertical: twice the pixels across, the rows of 72 dpi;
      // the exit module is told the horizontal resolution.
      {"144x72", 144, 5, 7, 202, 50, 608, 32, 30, 80, 40},
      {"72x144", 72, 1, 30, 104, 100, 13, 16, 60, 40, 80},
  };
  for (const RectCase& c : cases) {
    SCOPED_TRACE(std::string(c.resolution) + " dpi, type " + std::to_string(c.type) +
                 ", bands of " + std::to_string(c.bandRows));
    ASSERT_EQ(0, Print(DosPath(kRect), c.resolution, c.type, c.bandRows)) << Output();
    const Recording recording = Calls();
    ASSERT_TRUE(recording.wellFormed) << ReadWholeFile(log_);
    ASSERT_TRUE(recording.ended);
    EXPECT_EQ("startDocExit", recording.lines.front());
    EXPECT_EQ("startPageExit", recording.lines[1]);
    EXPECT_EQ("endDocExit", recording.lines.back());
    const std::string raw = Bands();
    ExpectBands(recording, raw, {c.height}, c.bandRows, c.width, c.type, c.x, c.stride);
    if (HasFatalFailure() || raw.size() != static_cast<size_t>(c.height) * c.stride) return;

    for (int row = 0; row < c.height; ++row) {
      const auto* line = reinterpret_cast<const unsigned char*>(raw.data()) +
                         static_cast<size_t>(row) * c.stride;
      for (int x = 0; x < c.width; ++x) {
        const bool inside =
            x >= c.rectLeft && x < c.rectRight && row >= c.rectTop && row < c.rectBottom;
        ASSERT_TRUE(inside ? IsBlack(line, c.type, x) : IsWhite(line, c.type, x))
            << "pixel x " << x << " row " << row;
      }
      if (c.type == 5) {
        for (int pad = c.width * 3; pad < c.stride; ++pad) ASSERT_EQ(0, line[pad]) << "row " << row;
      }
    }
  }
}

// A PNM image as Ghostscript writes it: header, then rows.
struct PnmPages {
  std::vector<int> widths, heights;
  std::vector<std::string> rows;  // each page's row bytes, concatenated
};

bool ReadPnmNumber(const std::string& data, size_t& at, int& value) {
  while (at < data.size()) {
    if (data[at] == '#') {
      while (at < data.size() && data[at] != '\n') ++at;
    } else if (data[at] == ' ' || data[at] == '\n' || data[at] == '\r' || data[at] == '\t') {
      ++at;
    } else {
      break;
    }
  }
  if (at >= data.size() || data[at] < '0' || data[at] > '9') return false;
  value = 0;
  while (at < data.size() && data[at] >= '0' && data[at] <= '9') {
    value = value * 10 + (data[at++] - '0');
  }
  ++at;  // the one whitespace byte after the number
  return true;
}

bool ParsePnm(const std::string& data, PnmPages& pages) {
  for (size_t at = 0; at < data.size();) {
    if (data.compare(at, 2, "P4") != 0 && data.compare(at, 2, "P6") != 0) return false;
    const bool rgb = data[at + 1] == '6';
    at += 2;
    int width = 0, height = 0, maxValue = 255;
    if (!ReadPnmNumber(data, at, width) || !ReadPnmNumber(data, at, height)) return false;
    if (rgb && !ReadPnmNumber(data, at, maxValue)) return false;
    const size_t size = static_cast<size_t>(height) * (rgb ? width * 3 : (width + 7) / 8);
    if (at + size > data.size()) return false;
    pages.widths.push_back(width);
    pages.heights.push_back(height);
    pages.rows.push_back(data.substr(at, size));
    at += size;
  }
  return !pages.widths.empty();
}

// Ghostscript's own rows in the exit module's layout: 1-bit rows inverted
// (PBM has 1 = black) with the pad bits white, RGB rows padded with zeros.
std::string InExitLayout(const PnmPages& pages, size_t page, int type) {
  const int width = pages.widths[page];
  const size_t inBytes = type == 1 ? (width + 7) / 8 : static_cast<size_t>(width) * 3;
  const size_t outBytes = type == 1 ? inBytes : (inBytes + 3) / 4 * 4;
  std::string out;
  for (int row = 0; row < pages.heights[page]; ++row) {
    std::string line = pages.rows[page].substr(row * inBytes, inBytes);
    if (type == 1) {
      for (char& byte : line) byte = static_cast<char>(~byte);
      const int spare = static_cast<int>(inBytes * 8) - width;
      line.back() = static_cast<char>(line.back() | ((1 << spare) - 1));
    }
    line.resize(outBytes, '\0');
    out += line;
  }
  return out;
}

TEST_F(PrintTest, PagesMatchGhostscriptsOwnRendering) {
  struct GsCase {
    const std::string* document;
    const char* resolution;
    int x, type, bandRows;
    size_t pages;
  };
  const GsCase cases[] = {
      // Letter at 30 dpi: 255 x 330, delivered 256 pixels wide in 1-bit.
      {&kSample, "30", 30, 1, 64, 3},
      {&kSample, "24", 24, 5, 50, 3},
      // A fax resolution: 286 x 136 pixels, delivered 288 wide.
      {&kRect, "204x196", 204, 1, 40, 1},
  };
  for (const GsCase& c : cases) {
    SCOPED_TRACE(*c.document + " at " + c.resolution + " dpi, type " + std::to_string(c.type));
    const std::string pnm = UnixPath(temp_.File("gs.pnm"));
    ASSERT_EQ(0, RunNative({"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE",
                            c.type == 1 ? "-sDEVICE=pbmraw" : "-sDEVICE=ppmraw",
                            std::string("-r") + c.resolution, "-sOutputFile=" + pnm, *c.document}));
    PnmPages expected;
    ASSERT_TRUE(ParsePnm(ReadWholeFile(temp_.File("gs.pnm")), expected));
    ASSERT_EQ(c.pages, expected.widths.size());

    ASSERT_EQ(0, Print(DosPath(*c.document), c.resolution, c.type, c.bandRows)) << Output();
    const Recording recording = Calls();
    ASSERT_TRUE(recording.wellFormed && recording.ended) << ReadWholeFile(log_);
    const int width = c.type == 1 ? (expected.widths[0] + 7) / 8 * 8 : expected.widths[0];
    const int stride = c.type == 1 ? width / 8 : (width * 3 + 3) / 4 * 4;
    const std::string raw = Bands();
    ExpectBands(recording, raw, expected.heights, c.bandRows, width, c.type, c.x, stride);

    std::string wanted;
    for (size_t p = 0; p < c.pages; ++p) wanted += InExitLayout(expected, p, c.type);
    ASSERT_EQ(wanted.size(), raw.size());
    const auto mismatch = std::mismatch(wanted.begin(), wanted.end(), raw.begin());
    EXPECT_TRUE(mismatch.first == wanted.end())
        << "first difference at byte " << (mismatch.first - wanted.begin()) << " of "
        << wanted.size();
    EXPECT_NE(std::string::npos, Output().find(std::to_string(c.pages) + " page"));
  }
}

TEST_F(PrintTest, StopsAtAFailedExitCallWithoutEndingTheDocument) {
  struct FailCase {
    const char* failAt;
    size_t calls;  // the failed one included
    const char* message;
  };
  const FailCase cases[] = {
      {"startDocExit:1", 1, "startDocExit returned -2"},
      {"startPageExit:1", 2, "startPageExit returned -2 (page 1)"},
      {"endPageExit:2", 4, "endPageExit returned -2 (page 1, band 2)"},
      {"endDocExit:1", 7, "endDocExit returned -2"},
  };
  for (const FailCase& c : cases) {
    SCOPED_TRACE(c.failAt);
    SetEnvironmentVariableA("ZF_FAKE_EXIT_FAIL", c.failAt);
    EXPECT_EQ(4, Print(DosPath(kRect), "72", 1, 16));
    const Recording recording = Calls();
    EXPECT_EQ(c.calls, recording.lines.size()) << ReadWholeFile(log_);
    EXPECT_NE(std::string::npos, Output().find(c.message)) << Output();
  }
}

TEST_F(PrintTest, DocumentsThatCannotBePrintedNeverStartAJob) {
  const std::string notADocument = temp_.File("notes.pdf");
  {
    UniqueFile file(CreateFileA(notADocument.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    WriteFile(file.get(), "not a document\n", 15, &written, nullptr);
  }
  struct DocumentCase {
    std::string document;
    const char* message;
  };
  const DocumentCase cases[] = {
      {temp_.File("missing.pdf"), "cannot read the document"},
      {temp_.path(), "cannot read the document"},
      {notADocument, "Ghostscript cannot render"},
  };
  for (const DocumentCase& c : cases) {
    SCOPED_TRACE(c.document);
    EXPECT_EQ(2, Print(c.document, "72", 1, 16));
    EXPECT_EQ("", ReadWholeFile(log_));
    EXPECT_NE(std::string::npos, Output().find(c.message)) << Output();
    EXPECT_NE(std::string::npos, Output().find(UnixPath(c.document))) << Output();
  }
}

TEST_F(PrintTest, DocumentFailingPartWayIsNotEnded) {
  EXPECT_EQ(2, Print(DosPath(ZF_TEST_PAGES "/fails-after-one.ps"), "72", 1, 8));
  const Recording recording = Calls();
  EXPECT_EQ(1u, recording.pages.size()) << ReadWholeFile(log_);
  EXPECT_FALSE(recording.ended);
  // Ghostscript's own words name the fault.
  EXPECT_NE(std::string::npos, Output().find("thisoperatordoesnotexist")) << Output();
}

TEST_F(PrintTest, AcceptsAUnixPath) {
  EXPECT_EQ(0, Print(kRect, "72", 5, 50)) << Output();
  const Recording recording = Calls();
  ASSERT_EQ(1u, recording.pages.size());
  ASSERT_EQ(1u, recording.pages[0].bands.size());
  EXPECT_EQ(50, recording.pages[0].bands[0].rows);
}

TEST_F(PrintTest, RefusesBadArguments) {
  const std::string rect = "\"" + DosPath(kRect) + "\" ";
  const std::string cases[] = {
      "",
      rect + "72 1",
      rect + "72 1 16 extra",
      rect + "72 3 16",     // no such raster type
      rect + "0 1 16",      // resolution out of range
      rect + "2401 5 16",
      rect + "72x 1 16",    // half a resolution
      rect + "x72 1 16",
      rect + "72x0 1 16",
      rect + "-72 1 16",
      rect + "72 1 0",      // no rows in a band
      rect + "72 1 sixteen",
  };
  for (const std::string& arguments : cases) {
    SCOPED_TRACE(arguments);
    EXPECT_EQ(1, Run(arguments));
    EXPECT_NE(std::string::npos, Output().find("usage: zfprint.exe")) << Output();
    EXPECT_EQ("", ReadWholeFile(log_));
  }
}

TEST_F(PrintTest, ReportsAMissingOrIncompleteExitModule) {
  struct ModuleCase {
    std::string recorded;  // "" = no value at all
    const char* message;
  };
  const ModuleCase cases[] = {
      {"", "the Zentrafold printer is not installed"},
      {temp_.File("pagetrap.dll"), "cannot load the exit module"},
      // A real DLL, but not an exit module.
      {DosPath(ZF_CIPHER_DLL), "has no export startDocExit"},
  };
  for (const ModuleCase& c : cases) {
    SCOPED_TRACE(c.recorded);
    DeletePrinterKey();
    if (!c.recorded.empty()) SetExitModuleValue(c.recorded);
    EXPECT_EQ(3, Print(DosPath(kRect), "72", 1, 16));
    EXPECT_NE(std::string::npos, Output().find(c.message)) << Output();
    EXPECT_NE(std::string::npos, Output().find(c.recorded)) << Output();
    EXPECT_EQ("", ReadWholeFile(log_));
  }
}

}  // namespace
}  // namespace zf::printer::test
