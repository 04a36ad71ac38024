// verywrite.dll as the exit module uses it: loaded by path from its folder, entry
// points looked up by name, documents written to Windows paths and read back.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "../verywrite.h"
#include "TestImages.h"

namespace {

using verywrite_test::PageKind;
using verywrite_test::TestPage;

// The library's own declarations: the test binds them by name, as the exit module does.
using CreateFn = decltype(&VeryCreate);
using AddInfoFn = decltype(&VeryAddInfo);
using SetFunctionFn = decltype(&VerySetFunction);
using AddImageFn = decltype(&VeryAddImage);
using AddImageDataFn = decltype(&VeryAddImageData);
using AddTextFn = decltype(&VeryAddText);
using CloseFn = decltype(&VeryClose);

struct Library {
  HMODULE module = nullptr;
  CreateFn create = nullptr;
  AddInfoFn addInfo = nullptr;
  SetFunctionFn setFunction = nullptr;
  AddImageFn addImage = nullptr;
  AddImageDataFn addImageData = nullptr;
  AddTextFn addText = nullptr;
  CloseFn close = nullptr;
};

template <typename Fn>
void Look(HMODULE module, const char* name, Fn& fn) {
  // Through void*: FARPROC is a function type of its own.
  fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// As the exit module does it: "<ModuleLocation>verywrite.dll".
Library LoadVerywrite() {
  Library lib;
  const char* unixPath = std::getenv("VERYWRITE_DLL");
  if (!unixPath) return lib;
  std::string folder = std::string("Z:") + unixPath;
  for (char& c : folder)
    if (c == '/') c = '\\';
  folder.erase(folder.rfind('\\') + 1);
  lib.module = LoadLibraryA((folder + "verywrite.dll").c_str());
  if (!lib.module) return lib;
  Look(lib.module, "VeryCreate", lib.create);
  Look(lib.module, "VeryAddInfo", lib.addInfo);
  Look(lib.module, "VerySetFunction", lib.setFunction);
  Look(lib.module, "VeryAddImage", lib.addImage);
  Look(lib.module, "VeryAddImageData", lib.addImageData);
  Look(lib.module, "VeryAddText", lib.addText);
  Look(lib.module, "VeryClose", lib.close);
  return lib;
}

bool WriteWinFile(const std::string& path, const std::vector<unsigned char>& bytes) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD put = 0;
  const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr);
  CloseHandle(file);
  return ok && put == bytes.size();
}

std::vector<unsigned char> ReadWinFile(const std::string& path) {
  std::vector<unsigned char> bytes;
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  bytes.resize(GetFileSize(file, nullptr));
  DWORD got = 0;
  if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) got = 0;
  bytes.resize(got);
  CloseHandle(file);
  return bytes;
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

class VerywriteDllTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { lib_ = LoadVerywrite(); }

  void SetUp() override {
    ASSERT_NE(nullptr, lib_.module) << "cannot load verywrite.dll named by VERYWRITE_DLL";
    for (void* fn : {reinterpret_cast<void*>(lib_.create), reinterpret_cast<void*>(lib_.addInfo),
                     reinterpret_cast<void*>(lib_.setFunction), reinterpret_cast<void*>(lib_.addImage),
                     reinterpret_cast<void*>(lib_.addImageData), reinterpret_cast<void*>(lib_.addText),
                     reinterpret_cast<void*>(lib_.close)})
      ASSERT_NE(nullptr, fn);
    char temp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(sizeof temp, temp));
    dir_ = std::string(temp) + "verywrite-" + std::to_string(GetCurrentProcessId()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_TRUE(CreateDirectoryA(dir_.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    dir_ += "\\";
  }

  void TearDown() override {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir_ + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do DeleteFileA((dir_ + found.cFileName).c_str());
      while (FindNextFileA(search, &found));
      FindClose(search);
    }
    RemoveDirectoryA(dir_.c_str());
  }

  std::string WriteTiff(const char* name, const std::vector<TestPage>& pages) {
    const std::string path = dir_ + name;
    EXPECT_TRUE(WriteWinFile(path, verywrite_test::TiffBytes(pages)));
    return path;
  }

  // The exit module's calls, in its order; every one must succeed.
  void ConvertAsPagetrap(const std::string& tiff, const std::string& pdf) {
    const LONG doc = lib_.create(pdf.c_str());
    ASSERT_NE(0, doc);
    EXPECT_NE(0, lib_.addInfo(doc, "Zentrafold Saved Page", "", "Zentrafold", "Keywords", "Zentrafold"));
    EXPECT_NE(0, lib_.setFunction(doc, 121, 4100, 2, 0, 0));
    EXPECT_NE(0, lib_.addImage(doc, tiff.c_str()));
    EXPECT_NE(0, lib_.close(doc));
  }

  static Library lib_;
  std::string dir_;
};

Library VerywriteDllTest::lib_;

void ExpectSamePixels(const std::vector<unsigned char>& pdf, const std::vector<TestPage>& pages) {
  for (std::size_t i = 0; i < pages.size(); ++i) {
    SCOPED_TRACE("page " + std::to_string(i + 1));
    const TestPage& p = pages[i];
    const bool mono = p.kind == PageKind::kBilevel;
    const std::string rendered = verywrite_test::RenderPage(pdf, static_cast<int>(i + 1), p.xDpi, p.yDpi, mono);
    const std::string expected = verywrite_test::ExpectedNetpbm(p);
    ASSERT_FALSE(rendered.empty());
    EXPECT_EQ(std::string::npos, verywrite_test::FirstDifference(expected, rendered))
        << "first differing byte " << verywrite_test::FirstDifference(expected, rendered) << " of "
        << expected.size() << ", rendered header " << rendered.substr(0, 16);
  }
}

TEST_F(VerywriteDllTest, CaptureBecomesPdfWithPagesInfoAndPixels) {
  TestPage stretched = verywrite_test::ColourPage(PageKind::kRgb, 900, 600, 150, 31);
  stretched.yDpi = 75;
  // Two colour pages in a row are compressed side by side.
  const std::vector<TestPage> pages = {
      verywrite_test::BilevelPage(1728, 2200, 204, 196, 21),
      verywrite_test::ColourPage(PageKind::kRgb, 1275, 1650, 150, 22),
      stretched,
      verywrite_test::BilevelPage(2552, 3300, 300, 300, 23),
  };
  const std::string tiff = WriteTiff("NEDIP.TIF", pages);
  const std::string pdf = dir_ + "0f8fad5b-d9cb-469f-a165-70867728950e.pdf";
  ConvertAsPagetrap(tiff, pdf);

  const std::vector<unsigned char> bytes = ReadWinFile(pdf);
  ASSERT_FALSE(bytes.empty());
  std::string report;
  EXPECT_TRUE(verywrite_test::QpdfCheck(bytes, &report)) << report;
  const verywrite_test::PdfSummary s = verywrite_test::InspectPdf(bytes);
  ASSERT_TRUE(s.ok) << s.problem;
  ASSERT_EQ(4, s.pages);
  for (std::size_t i = 0; i < pages.size(); ++i) {
    EXPECT_NEAR(pages[i].width * 72.0 / pages[i].xDpi, s.pageSizes[i].first, 0.001) << i;
    EXPECT_NEAR(pages[i].height * 72.0 / pages[i].yDpi, s.pageSizes[i].second, 0.001) << i;
  }
  EXPECT_EQ("Zentrafold Saved Page", s.title);
  EXPECT_EQ("", s.subject);
  EXPECT_EQ("Zentrafold", s.author);
  EXPECT_EQ("Keywords", s.keywords);
  EXPECT_EQ("Zentrafold", s.creator);
  ExpectSamePixels(bytes, pages);
}

TEST_F(VerywriteDllTest, InfoStringsAreWindows1252) {
  const std::string tiff = WriteTiff("page.tif", {verywrite_test::BilevelPage(800, 600, 100, 100, 24)});
  const std::string pdf = dir_ + "info.pdf";
  const LONG doc = lib_.create(pdf.c_str());
  ASSERT_NE(0, doc);
  // e acute, en dash, curly quotes, euro sign: 0x80-0x9F differ from Latin-1.
  EXPECT_NE(0, lib_.addInfo(doc, "Caf\xe9 \x96 \x93quoted\x94", nullptr, "\x80uro", "a\\b (c)", ""));
  EXPECT_NE(0, lib_.addImage(doc, tiff.c_str()));
  EXPECT_NE(0, lib_.close(doc));
  const verywrite_test::PdfSummary s = verywrite_test::InspectPdf(ReadWinFile(pdf));
  ASSERT_TRUE(s.ok) << s.problem;
  EXPECT_EQ("Caf\xc3\xa9 \xe2\x80\x93 \xe2\x80\x9cquoted\xe2\x80\x9d", s.title);
  EXPECT_EQ("", s.subject);
  EXPECT_EQ("\xe2\x82\xacuro", s.author);
  EXPECT_EQ("a\\b (c)", s.keywords);
  EXPECT_EQ("", s.creator);
}

TEST_F(VerywriteDllTest, ImageDataAndTextAddPages) {
  const std::vector<TestPage> pages = {verywrite_test::ColourPage(PageKind::kRgb, 600, 400, 96, 25),
                                       verywrite_test::BilevelPage(1728, 1100, 204, 98, 26)};
  const std::vector<unsigned char> tiff = verywrite_test::TiffBytes(pages);
  const std::string pdf = dir_ + "mixed.pdf";
  const LONG doc = lib_.create(pdf.c_str());
  ASSERT_NE(0, doc);
  EXPECT_EQ(2, lib_.addImageData(doc, tiff.data(), static_cast<LONG>(tiff.size())));
  EXPECT_EQ(1, lib_.addText(doc, "Saved with Zentrafold\r\nsecond line"));
  EXPECT_EQ(0, lib_.addImageData(doc, tiff.data(), 100));  // cut short: nothing added
  EXPECT_EQ(0, lib_.addImageData(doc, nullptr, 10));
  EXPECT_NE(0, lib_.close(doc));
  const std::vector<unsigned char> bytes = ReadWinFile(pdf);
  const verywrite_test::PdfSummary s = verywrite_test::InspectPdf(bytes);
  ASSERT_TRUE(s.ok) << s.problem;
  EXPECT_EQ(3, s.pages);
  ExpectSamePixels(bytes, pages);
}

TEST_F(VerywriteDllTest, ExistingFileIsReplaced) {
  const std::string pdf = dir_ + "again.pdf";
  ASSERT_TRUE(WriteWinFile(pdf, std::vector<unsigned char>(500000, 'x')));
  const std::string tiff = WriteTiff("page.tif", {verywrite_test::BilevelPage(640, 480, 72, 72, 27)});
  ConvertAsPagetrap(tiff, pdf);
  const verywrite_test::PdfSummary s = verywrite_test::InspectPdf(ReadWinFile(pdf));
  EXPECT_TRUE(s.ok) << s.problem;
  EXPECT_EQ(1, s.pages);
}

TEST_F(VerywriteDllTest, UnwritablePathGivesNoDocument) {
  const std::string cases[] = {
      dir_ + "missing\\folder\\out.pdf",  // folder does not exist
      dir_,                               // a folder, not a file
      "",
  };
  for (const std::string& path : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(0, lib_.create(path.c_str()));
  }
  EXPECT_EQ(0, lib_.create(nullptr));
}

TEST_F(VerywriteDllTest, ImagesThatCannotBeReadAddNothing) {
  const std::string text = dir_ + "notes.txt";
  ASSERT_TRUE(WriteWinFile(text, std::vector<unsigned char>(4000, 'a')));
  const std::vector<unsigned char> good = verywrite_test::TiffBytes(
      {verywrite_test::BilevelPage(800, 600, 100, 100, 28), verywrite_test::BilevelPage(800, 600, 100, 100, 29)});
  const std::string cut = dir_ + "cut.tif";
  ASSERT_TRUE(WriteWinFile(cut, std::vector<unsigned char>(good.begin(), good.begin() + good.size() / 2)));
  const std::string empty = dir_ + "empty.tif";
  ASSERT_TRUE(WriteWinFile(empty, {}));

  const std::string pdf = dir_ + "none.pdf";
  const LONG doc = lib_.create(pdf.c_str());
  ASSERT_NE(0, doc);
  for (const std::string& image : {dir_ + "missing.tif", text, cut, empty, dir_}) {
    SCOPED_TRACE(image);
    EXPECT_EQ(0, lib_.addImage(doc, image.c_str()));
  }
  EXPECT_EQ(0, lib_.addImage(doc, nullptr));
  // Nothing was added, so there is no document and no file.
  EXPECT_EQ(0, lib_.close(doc));
  EXPECT_FALSE(Exists(pdf));
}

TEST_F(VerywriteDllTest, CloseWithoutPagesLeavesNoFile) {
  const std::string pdf = dir_ + "blank.pdf";
  const LONG doc = lib_.create(pdf.c_str());
  ASSERT_NE(0, doc);
  EXPECT_TRUE(Exists(pdf));  // claimed at once
  EXPECT_NE(0, lib_.addInfo(doc, "Zentrafold Saved Page", "", "Zentrafold", "Keywords", "Zentrafold"));
  EXPECT_EQ(0, lib_.close(doc));
  EXPECT_FALSE(Exists(pdf));
}

TEST_F(VerywriteDllTest, BadHandlesAreRefused) {
  const std::string tiff = WriteTiff("page.tif", {verywrite_test::BilevelPage(640, 480, 72, 72, 30)});
  const std::string pdf = dir_ + "closed.pdf";
  const LONG closed = lib_.create(pdf.c_str());
  ASSERT_NE(0, closed);
  ASSERT_NE(0, lib_.addImage(closed, tiff.c_str()));
  ASSERT_NE(0, lib_.close(closed));
  const LONG next = lib_.create((dir_ + "open.pdf").c_str());
  ASSERT_NE(0, next);
  EXPECT_NE(closed, next);  // a closed handle is not handed out again at once
  for (LONG handle : {LONG{0}, LONG{-1}, closed, next + 1000}) {
    SCOPED_TRACE(handle);
    EXPECT_EQ(0, lib_.addInfo(handle, "t", "s", "a", "k", "c"));
    EXPECT_EQ(0, lib_.setFunction(handle, 121, 4100, 2, 0, 0));
    EXPECT_EQ(0, lib_.addImage(handle, tiff.c_str()));
    EXPECT_EQ(0, lib_.addText(handle, "text"));
    EXPECT_EQ(0, lib_.close(handle));
  }
  const verywrite_test::PdfSummary s = verywrite_test::InspectPdf(ReadWinFile(pdf));
  EXPECT_EQ(1, s.pages);  // the closed document was not touched
  EXPECT_EQ(0, lib_.close(next));
}

TEST_F(VerywriteDllTest, SetFunctionKnowsOnlyImageEncoding) {
  const LONG doc = lib_.create((dir_ + "f.pdf").c_str());
  ASSERT_NE(0, doc);
  struct Case {
    LONG function, value, a, b, c, result;
  } cases[] = {
      {121, 4100, 2, 0, 0, 1}, {121, 4100, 1, 0, 0, 1}, {121, 4100, 3, 0, 0, 1},
      {121, 4100, 4, 0, 0, 0}, {121, 4100, 0, 0, 0, 0}, {121, 4, 2, 0, 0, 0},
      {121, 4100, 2, 1, 0, 0}, {120, 4100, 2, 0, 0, 0}, {0, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.function) + " " + std::to_string(c.value) + " " + std::to_string(c.a));
    EXPECT_EQ(c.result, lib_.setFunction(doc, c.function, c.value, c.a, c.b, c.c) != 0);
  }
  EXPECT_EQ(0, lib_.close(doc));
}

}  // namespace
