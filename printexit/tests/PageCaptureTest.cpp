// The page exits as the driver calls them: bands in, TIFF directories out,
// read back with libtiff from the capture file in the system directory.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <memory>

#include "TestSupport.h"

namespace pagetrap::test {
namespace {

constexpr INT kBitmap = 1;
constexpr INT kRgb = 5;
constexpr char kCannotOpen[] =
    "Cannot open TIFF file. Check to make sure you have enough disk space.  You should have at "
    "least 50mb free.";

// Bytes that name their page row and column, so a row read from the wrong
// place or written under the wrong number shows.
BYTE Pattern(int row, size_t column) { return static_cast<BYTE>(row * 7 + column * 13 + 1); }

size_t BitmapRowBytes(int width) { return (static_cast<size_t>(width) + 7) / 8; }
size_t RgbStride(int width) { return (static_cast<size_t>(width) * 3 + 3) / 4 * 4; }

constexpr BYTE kPadding = 0xEE;

// A band as the driver hands it over: `rows` rows from page row `firstRow` on.
struct Band {
  Band(INT type, INT width, INT rows, int firstRow)
      : type(type),
        width(width),
        rows(rows),
        rowBytes(type == kBitmap ? BitmapRowBytes(width) : static_cast<size_t>(width) * 3),
        stride(type == kBitmap ? rowBytes : RgbStride(width)),
        memory(std::make_unique<GuardedBand>(stride * static_cast<size_t>(rows))) {
    for (int r = 0; r < rows; ++r) {
      BYTE* row = memory->data() + static_cast<size_t>(r) * stride;
      for (size_t c = 0; c < stride; ++c)
        row[c] = c < rowBytes ? Pattern(firstRow + r, c) : kPadding;
    }
    original = memory->Copy();
  }
  const BYTE* Row(int r) const { return memory->data() + static_cast<size_t>(r) * stride; }

  INT type, width, rows;
  size_t rowBytes, stride;
  std::unique_ptr<GuardedBand> memory;
  std::vector<BYTE> original;
};

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Pagetrap().Loaded()) << "pagetrap.dll did not load from " << PAGETRAP_DLL;
    // The document's end converts; a recording converter without an uploader
    // beside it keeps that quiet.
    SetSetting("ModuleLocation",
               MakeModuleFolder("C:\\zftest\\capture-modules", Converter::kComplete, false));
    RemoveDirectoryA(CaptureFile().c_str());
    DeleteFileA(CaptureFile().c_str());
  }
  void TearDown() override {
    RemoveDirectoryA(CaptureFile().c_str());
    EXPECT_EQ(std::vector<Message>{}, boxes_.Take());
  }

  static void StartDocument() { EXPECT_EQ(0, Pagetrap().startDoc()); }
  static void StartPage() { EXPECT_EQ(0, Pagetrap().startPage()); }
  static SHORT EndPage(Band& band, INT resolution, INT more) {
    return Pagetrap().endPage(band.memory->data(), band.rows, band.width, band.type, resolution,
                              more);
  }
  static void EndDocument() { EXPECT_EQ(0, Pagetrap().endDoc()); }

  // The rows of one page delivered in bands of the given heights; the last
  // band ends the page.
  static void PrintPage(INT type, INT width, const std::vector<int>& heights, INT resolution) {
    StartPage();
    int first = 0;
    for (size_t i = 0; i < heights.size(); ++i) {
      Band band(type, width, heights[i], first);
      EXPECT_EQ(0, EndPage(band, resolution, i + 1 < heights.size())) << "band " << i;
      first += heights[i];
    }
  }

  SavedValue moduleLocation_{HKEY_LOCAL_MACHINE, kSettingsKey, "ModuleLocation"};
  SavedValue defaultPrinter_{HKEY_LOCAL_MACHINE, kSettingsKey, "DefaultPrinter"};
  NewDocumentsRemoved documents_;
  MessageBoxAnswerer boxes_;
};

// What sets a 1-bit page apart from an RGB page in the capture's tags.
struct PageKind {
  uint16_t compression, photometric, samplesPerPixel, bitsPerSample;
};
constexpr PageKind kRgbPage{COMPRESSION_NONE, PHOTOMETRIC_RGB, 3, 8};
constexpr PageKind kBitmapPage{COMPRESSION_CCITTFAX4, PHOTOMETRIC_MINISWHITE, 1, 1};

void ExpectTags(const TiffPage& page, const PageKind& kind, uint32_t width, uint32_t length,
                float resolution) {
  EXPECT_EQ(width, page.width);
  EXPECT_EQ(length, page.length);
  EXPECT_EQ(kind.compression, page.compression);
  EXPECT_EQ(kind.photometric, page.photometric);
  EXPECT_EQ(kind.samplesPerPixel, page.samplesPerPixel);
  EXPECT_EQ(kind.bitsPerSample, page.bitsPerSample);
  EXPECT_EQ(PLANARCONFIG_CONTIG, page.planar);
  EXPECT_EQ(1u, page.rowsPerStrip);
  EXPECT_EQ(RESUNIT_INCH, page.resolutionUnit);
  EXPECT_EQ(resolution, page.xResolution);
  EXPECT_EQ(resolution, page.yResolution);
}

// Page rows [first, first + count) of an RGB page, as stored.
void ExpectRgbRows(const TiffPage& page, int width, int first, int count, int fileRow = -1) {
  if (fileRow < 0) fileRow = first;
  ASSERT_GE(page.rows.size(), static_cast<size_t>(fileRow + count));
  for (int r = 0; r < count; ++r) {
    const auto& row = page.rows[static_cast<size_t>(fileRow + r)];
    ASSERT_EQ(static_cast<size_t>(width) * 3, row.size());
    for (size_t c = 0; c < row.size(); ++c)
      ASSERT_EQ(Pattern(first + r, c), row[c]) << "page row " << first + r << ", byte " << c;
  }
}

// The bitmap rows of the file are the band's bytes inverted, up to the last pixel.
void ExpectBitmapRows(const TiffPage& page, const Band& band, int fileRow) {
  ASSERT_GE(page.rows.size(), static_cast<size_t>(fileRow + band.rows));
  const int tail = band.width % 8;
  const BYTE lastMask = tail ? static_cast<BYTE>(0xFF << (8 - tail)) : 0xFF;
  for (int r = 0; r < band.rows; ++r) {
    const auto& row = page.rows[static_cast<size_t>(fileRow + r)];
    ASSERT_EQ(band.rowBytes, row.size());
    for (size_t c = 0; c < row.size(); ++c) {
      const BYTE mask = c + 1 == row.size() ? lastMask : 0xFF;
      const BYTE stored = static_cast<BYTE>(~band.original[r * band.stride + c]);
      ASSERT_EQ(stored & mask, row[c] & mask) << "row " << r << ", byte " << c;
    }
  }
}

TEST_F(CaptureTest, BandsOfOnePageMakeOneDirectory) {
  StartDocument();
  StartPage();
  // The tags come from the first band alone: later bands' resolutions are not used.
  Band first(kRgb, 101, 100, 0), second(kRgb, 101, 100, 100), third(kRgb, 101, 50, 200);
  EXPECT_EQ(0, EndPage(first, 300, 1));
  EXPECT_EQ(0, EndPage(second, 150, 1));
  EXPECT_EQ(0, EndPage(third, 600, 0));
  EndDocument();

  const auto pages = ReadTiff(CaptureFile());
  ASSERT_EQ(1u, pages.size());
  ExpectTags(pages[0], kRgbPage, 101, 250, 300);
  ExpectRgbRows(pages[0], 101, 0, 250);
}

TEST_F(CaptureTest, PageLengthIsTheFirstBandsUntilThePageEnds) {
  StartDocument();
  StartPage();
  Band band(kRgb, 40, 100, 0);
  EXPECT_EQ(0, EndPage(band, 200, 1));
  EndDocument();  // closes the file with the page still open

  const auto pages = ReadTiff(CaptureFile());
  ASSERT_EQ(1u, pages.size());
  ExpectTags(pages[0], kRgbPage, 40, 100, 200);
  ExpectRgbRows(pages[0], 40, 0, 100);
}

TEST_F(CaptureTest, BitmapRowsAreInvertedInTheCallersBuffer) {
  StartDocument();
  StartPage();
  Band band(kBitmap, 1728, 20, 0);
  EXPECT_EQ(0, EndPage(band, 204, 0));
  EndDocument();

  for (size_t i = 0; i < band.original.size(); ++i)
    ASSERT_EQ(static_cast<BYTE>(~band.original[i]), band.memory->data()[i]) << "byte " << i;
  const auto pages = ReadTiff(CaptureFile());
  ASSERT_EQ(1u, pages.size());
  ExpectTags(pages[0], kBitmapPage, 1728, 20, 204);
  ExpectBitmapRows(pages[0], band, 0);
}

// A width that is not a multiple of 8: each row is (width + 7) / 8 bytes, as
// in any 1-bit bitmap; nothing before or after the band is touched (the band
// memory faults past its end).
TEST_F(CaptureTest, BitmapRowsOfPartialBytesStepWholeBytes) {
  for (INT width : {1727, 1729, 12, 1}) {
    SCOPED_TRACE("width " + std::to_string(width));
    StartDocument();
    StartPage();
    Band band(kBitmap, width, 30, 0);
    EXPECT_EQ(0, EndPage(band, 300, 0));
    EndDocument();

    for (size_t i = 0; i < band.original.size(); ++i)
      ASSERT_EQ(static_cast<BYTE>(~band.original[i]), band.memory->data()[i]) << "byte " << i;
    const auto pages = ReadTiff(CaptureFile());
    ASSERT_EQ(1u, pages.size());
    ExpectTags(pages[0], kBitmapPage, static_cast<uint32_t>(width), 30, 300);
    ExpectBitmapRows(pages[0], band, 0);
  }
}

TEST_F(CaptureTest, RgbRowsSkipTheirPadding) {
  struct Case {
    INT width;
    size_t stride;
  };
  for (const Case& c : {Case{101, 304}, Case{100, 300}, Case{102, 308}, Case{1, 4}}) {
    SCOPED_TRACE("width " + std::to_string(c.width));
    StartDocument();
    StartPage();
    Band band(kRgb, c.width, 25, 0);
    ASSERT_EQ(c.stride, band.stride);
    EXPECT_EQ(0, EndPage(band, 300, 0));
    EndDocument();

    EXPECT_EQ(band.original, band.memory->Copy()) << "RGB bands are not changed";
    const auto pages = ReadTiff(CaptureFile());
    ASSERT_EQ(1u, pages.size());
    ExpectTags(pages[0], kRgbPage, static_cast<uint32_t>(c.width), 25, 300);
    ExpectRgbRows(pages[0], c.width, 0, 25);
  }
}

TEST_F(CaptureTest, EachPageIsADirectory) {
  StartDocument();
  StartPage();
  Band bitmap(kBitmap, 1728, 30, 0);
  EXPECT_EQ(0, EndPage(bitmap, 204, 0));
  PrintPage(kRgb, 64, {25, 15}, 300);
  EndDocument();

  const auto pages = ReadTiff(CaptureFile());
  ASSERT_EQ(2u, pages.size());
  ExpectTags(pages[0], kBitmapPage, 1728, 30, 204);
  ExpectBitmapRows(pages[0], bitmap, 0);
  ExpectTags(pages[1], kRgbPage, 64, 40, 300);
  ExpectRgbRows(pages[1], 64, 0, 40);
}

TEST_F(CaptureTest, UnknownTypesWriteNothing) {
  StartDocument();
  StartPage();
  Band unknown(kRgb, 101, 50, 0), rgb(kRgb, 101, 30, 0), other(kRgb, 101, 20, 0),
      last(kRgb, 101, 10, 30);
  unknown.type = 3;
  other.type = 0;
  // Neither the rows nor the tags of an unknown band count.
  EXPECT_EQ(0, EndPage(unknown, 999, 1));
  EXPECT_EQ(0, EndPage(rgb, 300, 1));
  EXPECT_EQ(0, EndPage(other, 999, 1));
  EXPECT_EQ(0, EndPage(last, 300, 0));
  EndDocument();

  EXPECT_EQ(unknown.original, unknown.memory->Copy());
  EXPECT_EQ(other.original, other.memory->Copy());
  const auto pages = ReadTiff(CaptureFile());
  ASSERT_EQ(1u, pages.size());
  ExpectTags(pages[0], kRgbPage, 101, 40, 300);
  ExpectRgbRows(pages[0], 101, 0, 40);
}

TEST_F(CaptureTest, PageOfUnknownTypesOnlyMakesNoDirectory) {
  StartDocument();
  PrintPage(7, 101, {20}, 300);
  PrintPage(kRgb, 101, {30}, 300);
  PrintPage(2, 101, {20, 10}, 300);
  EndDocument();

  const auto pages = ReadTiff(CaptureFile());
  ASSERT_EQ(1u, pages.size());
  ExpectTags(pages[0], kRgbPage, 101, 30, 300);
  ExpectRgbRows(pages[0], 101, 0, 30);
}

TEST_F(CaptureTest, FileThatCannotBeOpenedIsTriedAgainOnTheNextBand) {
  // A folder where the file should be: creating the file fails.
  ASSERT_TRUE(CreateDirectoryA(CaptureFile().c_str(), nullptr));
  StartDocument();
  StartPage();
  Band lost(kRgb, 32, 10, 0), again(kRgb, 32, 10, 0), kept(kRgb, 32, 10, 0);
  EXPECT_EQ(-1, EndPage(lost, 300, 1));
  EXPECT_EQ((std::vector<Message>{{"", kCannotOpen}}), boxes_.Take());
  EXPECT_EQ(-1, EndPage(again, 300, 1));
  EXPECT_EQ((std::vector<Message>{{"", kCannotOpen}}), boxes_.Take());

  ASSERT_TRUE(RemoveDirectoryA(CaptureFile().c_str()));
  EXPECT_EQ(0, EndPage(kept, 300, 0));
  EndDocument();

  const auto pages = ReadTiff(CaptureFile());
  ASSERT_EQ(1u, pages.size());
  ExpectTags(pages[0], kRgbPage, 32, 10, 300);
  ExpectRgbRows(pages[0], 32, 0, 10);
}

// A job the driver gave up on (no endDocExit) does not keep the file from the next one.
TEST_F(CaptureTest, JobThatNeverEndedLeavesTheFileToTheNext) {
  StartDocument();
  StartPage();
  Band abandoned(kRgb, 16, 10, 0);
  EXPECT_EQ(0, EndPage(abandoned, 300, 1));

  StartDocument();
  PrintPage(kRgb, 24, {12}, 200);
  EndDocument();

  const auto pages = ReadTiff(CaptureFile());
  ASSERT_EQ(1u, pages.size());
  ExpectTags(pages[0], kRgbPage, 24, 12, 200);
  ExpectRgbRows(pages[0], 24, 0, 12);
}

TEST_F(CaptureTest, PageAfterTheDocumentEndedFindsNoFile) {
  StartDocument();
  PrintPage(kRgb, 16, {4}, 300);
  EndDocument();

  StartPage();
  Band band(kBitmap, 64, 4, 0);
  EXPECT_EQ(-1, EndPage(band, 300, 0));
  EXPECT_EQ((std::vector<Message>{{"", "gout is null and it shouldn't be"}}), boxes_.Take());
  EXPECT_EQ(band.original, band.memory->Copy());
}

// Writes fail once the file reaches the process's file size limit, as on a full disk.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : oldHandler_(std::signal(SIGXFSZ, SIG_IGN)) {
    getrlimit(RLIMIT_FSIZE, &old_);
    rlimit limit = old_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit old_;
  void (*oldHandler_)(int);
};

uint64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

TEST_F(CaptureTest, RowThatFailsIsReportedForItsOwnBand) {
  for (INT more : {1, 0}) {
    SCOPED_TRACE("more " + std::to_string(more));
    StartDocument();
    StartPage();
    Band first(kRgb, 101, 100, 0), failing(kRgb, 101, 100, 100), last(kRgb, 101, 50, 200);
    EXPECT_EQ(0, EndPage(first, 300, 1));
    {
      // Room for about ten more rows.
      FileSizeLimit limit(FileSize(CaptureFile()) + 10 * 303 + 100);
      EXPECT_EQ(-2, EndPage(failing, 300, more));
    }
    if (more) {
      EXPECT_EQ(0, EndPage(last, 300, 0));
      EndDocument();
      const auto pages = ReadTiff(CaptureFile(), false);
      ASSERT_EQ(1u, pages.size());
      // The failed band's rows still count: the rows after it keep their places.
      EXPECT_EQ(250u, pages[0].length);
    } else {
      EndDocument();
    }
  }
}

}  // namespace
}  // namespace pagetrap::test
