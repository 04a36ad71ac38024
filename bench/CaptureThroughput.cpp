// Capture throughput of pagetrap.dll, called as the driver calls it (bands of
// 128 rows), against libtiff alone writing the same rows with the same tags to
// a file beside the capture file, in the same run. Prints pages/s for both and
// their ratio per page kind (goal: pagetrap at least 0.9 of libtiff alone).
// Run in a Wine prefix, e.g. after `scripts/testenv.sh start DIR`:
//   . DIR/env; wine64 <build>/win/bench/capture_throughput.exe.so
#include <tiffio.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "../client/Owners.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr char kSettingsKey[] = "Software\\Orvane Software\\Zentrafold";
constexpr int kBandRows = 128;
constexpr int kPagesPerJob = 2;
constexpr int kRuns = 7;

struct Exits {
  SHORT(WINAPI* startDoc)();
  SHORT(WINAPI* startPage)();
  SHORT(WINAPI* endPage)(BYTE*, INT, INT, INT, INT, INT);
  SHORT(WINAPI* endDoc)();
};

// A page as the driver renders it: rows top first, each `stride` bytes apart.
struct Page {
  const char* name;
  int type;  // 1: 1 bit per pixel, 1 = white; 5: RGB
  int width, rows, resolution;
  size_t rowBytes, stride;
  std::vector<BYTE> bits;
};

unsigned g_random = 12345;
unsigned Random(unsigned range) {
  g_random = g_random * 1103515245 + 12345;
  return (g_random >> 16) % range;
}

// Lines of words of glyph-sized blobs: what a printed web page mostly is.
// `ink(x, y)` marks a pixel black.
template <typename Ink>
void DrawText(int width, int rows, int resolution, int left, int top, int right, int bottom,
              Ink ink) {
  const int pitch = resolution / 6;  // 12-point lines
  const int glyph = resolution / 12, stroke = std::max(1, resolution / 100);
  for (int line = top; line + pitch <= std::min(rows, bottom); line += pitch) {
    int x = left;
    while (x < right - glyph) {
      const int letters = 2 + static_cast<int>(Random(8));
      for (int l = 0; l < letters && x < right - glyph; ++l, x += glyph * 6 / 10) {
        const int height = glyph * (6 + static_cast<int>(Random(5))) / 10;
        const int base = line + glyph;
        // Two strokes and a bar per letter.
        for (int y = base - height; y < base; ++y)
          for (int s = 0; s < stroke; ++s) {
            ink(x + s, y);
            ink(x + glyph / 2 + s, y);
          }
        const int bar = base - height / 2 - static_cast<int>(Random(3));
        for (int bx = x; bx < x + glyph / 2; ++bx)
          for (int s = 0; s < stroke; ++s) ink(bx, bar + s);
      }
      x += glyph / 2;
    }
  }
  (void)width;
}

Page BitmapPage(const char* name, int width, int rows, int resolution) {
  Page page{name, 1, width, rows, resolution, (static_cast<size_t>(width) + 7) / 8, 0, {}};
  page.stride = page.rowBytes;
  page.bits.assign(page.stride * rows, 0xFF);
  const int margin = resolution * 3 / 4;
  DrawText(width, rows, resolution, margin, margin, width - margin, rows - margin,
           [&](int x, int y) {
             if (x < 0 || y < 0 || x >= width || y >= rows) return;
             page.bits[y * page.stride + x / 8] &= static_cast<BYTE>(~(0x80 >> (x % 8)));
           });
  return page;
}

Page RgbPage(const char* name, int width, int rows, int resolution) {
  Page page{name, 5, width, rows, resolution, static_cast<size_t>(width) * 3, 0, {}};
  page.stride = (page.rowBytes + 3) / 4 * 4;
  page.bits.assign(page.stride * rows, 0xFF);
  auto pixel = [&](int x, int y) { return &page.bits[y * page.stride + x * 3]; };
  const int margin = resolution * 3 / 4;
  // A photo: smooth colour fields with grain, a third of the page.
  const int photoTop = margin + resolution * 2, photoBottom = photoTop + rows / 3;
  for (int y = photoTop; y < photoBottom; ++y)
    for (int x = margin; x < width - margin; ++x) {
      BYTE* p = pixel(x, y);
      const int grain = static_cast<int>(Random(24)) - 12;
      p[0] = static_cast<BYTE>(std::clamp(x * 255 / width + grain, 0, 255));
      p[1] = static_cast<BYTE>(std::clamp((y - photoTop) * 255 / (rows / 3) + grain, 0, 255));
      p[2] = static_cast<BYTE>(std::clamp(128 + (x ^ y) % 64 + grain, 0, 255));
    }
  auto ink = [&](int x, int y) {
    if (x < 0 || y < 0 || x >= width || y >= rows) return;
    std::memset(pixel(x, y), 0x20, 3);
  };
  DrawText(width, rows, resolution, margin, margin, width - margin, photoTop, ink);
  DrawText(width, rows, resolution, margin, photoBottom + margin / 2, width - margin, rows - margin,
           ink);
  return page;
}

// The tags pagetrap sets, in its order; ImageLength is fixed at the page end.
void SetTags(TIFF* out, const Page& page, int firstBandRows) {
  const bool bitmap = page.type == 1;
  TIFFSetField(out, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
  TIFFSetField(out, TIFFTAG_XRESOLUTION, static_cast<double>(page.resolution));
  TIFFSetField(out, TIFFTAG_YRESOLUTION, static_cast<double>(page.resolution));
  TIFFSetField(out, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(page.width));
  TIFFSetField(out, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(firstBandRows));
  TIFFSetField(out, TIFFTAG_COMPRESSION, bitmap ? COMPRESSION_CCITTFAX4 : COMPRESSION_NONE);
  TIFFSetField(out, TIFFTAG_PHOTOMETRIC, bitmap ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_RGB);
  TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, bitmap ? 1 : 3);
  TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, bitmap ? 1 : 8);
  TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, 1);
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// One job through pagetrap; the document's end (conversion) is not timed.
double PagetrapJob(const Exits& exits, const Page& page) {
  // pagetrap inverts 1-bit bands in place: each page gets fresh bands.
  std::vector<std::vector<BYTE>> copies(kPagesPerJob, page.bits);
  const auto start = Clock::now();
  exits.startDoc();
  for (auto& bits : copies) {
    exits.startPage();
    for (int row = 0; row < page.rows; row += kBandRows) {
      const int rows = std::min(kBandRows, page.rows - row);
      if (exits.endPage(bits.data() + row * page.stride, rows, page.width, page.type,
                        page.resolution, row + rows < page.rows) != 0)
        return -1;
    }
  }
  const double seconds = Seconds(start);
  exits.endDoc();
  return seconds;
}

// The same job with libtiff alone: the rows as pagetrap stores them.
double LibtiffJob(const std::string& unixPath, const Page& page, const std::vector<BYTE>& stored) {
  const auto start = Clock::now();
  TIFF* out = TIFFOpen(unixPath.c_str(), "w");
  if (!out) return -1;
  for (int p = 0; p < kPagesPerJob; ++p) {
    SetTags(out, page, std::min(kBandRows, page.rows));
    for (int row = 0; row < page.rows; ++row)
      if (TIFFWriteScanline(out, const_cast<BYTE*>(stored.data() + row * page.stride),
                            static_cast<uint32_t>(row), 0) < 0)
        return -1;
    TIFFSetField(out, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(page.rows));
    TIFFWriteDirectory(out);
  }
  const double seconds = Seconds(start);
  TIFFClose(out);
  return seconds;
}

std::string UnixPath(const std::string& windowsPath) {
  WCHAR wide[MAX_PATH * 2] = {};
  MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH * 2);
  char* unix = wine_get_unix_file_name(wide);
  if (!unix) return {};
  std::string result(unix);
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

std::string DosPath(const char* unixPath) {
  WCHAR* wide = wine_get_dos_file_name(unixPath);
  if (!wide) return {};
  char narrow[MAX_PATH * 2] = {};
  WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, nullptr, nullptr);
  HeapFree(GetProcessHeap(), 0, wide);
  return narrow;
}

std::vector<BYTE> ReadAll(const std::string& unixPath) {
  std::vector<BYTE> bytes;
  if (FILE* file = std::fopen(unixPath.c_str(), "rb")) {
    BYTE chunk[1 << 16];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
      bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(file);
  }
  return bytes;
}

// "ModuleLocation" and "DefaultPrinter" as they were, put back at the end.
class SettingsKept {
 public:
  SettingsKept() {
    for (auto* value : {&location_, &printer_}) value->Save();
  }
  ~SettingsKept() {
    for (auto* value : {&location_, &printer_}) value->Restore();
  }

 private:
  struct Value {
    const char* name;
    bool existed = false;
    std::string text;
    void Save() {
      zf::UniqueHKey key;
      char buffer[MAX_PATH] = {};
      DWORD size = sizeof buffer - 1;
      existed = RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, key.put()) ==
                    ERROR_SUCCESS &&
                RegQueryValueExA(key.get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                                 &size) == ERROR_SUCCESS;
      text = buffer;
    }
    void Restore() const {
      zf::UniqueHKey key;
      if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          key.put(), nullptr) != ERROR_SUCCESS)
        return;
      if (existed)
        RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>(text.size() + 1));
      else
        RegDeleteValueA(key.get(), name);
    }
  };
  Value location_{"ModuleLocation", false, {}};
  Value printer_{"DefaultPrinter", false, {}};
};

}  // namespace

int main() {
  const HMODULE module = LoadLibraryA(DosPath(PAGETRAP_DLL).c_str());
  if (!module) {
    std::fprintf(stderr, "cannot load %s\n", PAGETRAP_DLL);
    return 1;
  }
  auto find = [module](const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(module, name));
  };
  const Exits exits{reinterpret_cast<decltype(Exits::startDoc)>(find("startDocExit")),
                    reinterpret_cast<decltype(Exits::startPage)>(find("startPageExit")),
                    reinterpret_cast<decltype(Exits::endPage)>(find("endPageExit")),
                    reinterpret_cast<decltype(Exits::endDoc)>(find("endDocExit"))};

  // The document's end converts: a recording stand-in converter and no uploader keep it short.
  SettingsKept kept;
  const std::string modules = "C:\\zfbench";
  CreateDirectoryA(modules.c_str(), nullptr);
  CopyFileA(DosPath(FAKE_VERYWRITE).c_str(), (modules + "\\verywrite.dll").c_str(), FALSE);
  {
    zf::UniqueHKey key;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    key.put(), nullptr);
    RegSetValueExA(key.get(), "ModuleLocation", 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(modules.c_str()),
                   static_cast<DWORD>(modules.size() + 1));
  }

  char systemFolder[MAX_PATH] = {};
  GetSystemDirectoryA(systemFolder, sizeof systemFolder);
  const std::string captured = UnixPath(std::string(systemFolder) + "\\NEDIP.TIF");
  const std::string baseline = UnixPath(std::string(systemFolder) + "\\NEDIP-libtiff.TIF");

  std::vector<Page> pages;
  pages.push_back(BitmapPage("1-bit text, 204x196 dpi fax (1728 x 2156)", 1728, 2156, 196));
  pages.push_back(BitmapPage("1-bit text, 300 dpi letter (2552 x 3300)", 2552, 3300, 300));
  pages.push_back(RgbPage("RGB text + photo, 300 dpi letter (2550 x 3300)", 2550, 3300, 300));

  std::printf("%d-page jobs in bands of %d rows, best of %d runs\n", kPagesPerJob, kBandRows,
              kRuns);
  std::printf("%-48s %12s %12s %8s %10s %s\n", "page kind", "pagetrap p/s", "libtiff p/s", "ratio",
              "file MB", "same file");
  for (const Page& page : pages) {
    std::vector<BYTE> stored = page.bits;
    if (page.type == 1)
      for (auto& b : stored) b = static_cast<BYTE>(~b);
    double ours = 1e9, theirs = 1e9;
    for (int run = 0; run < kRuns; ++run) {
      const double a = PagetrapJob(exits, page);
      const double b = LibtiffJob(baseline, page, stored);
      if (a < 0 || b < 0) {
        std::fprintf(stderr, "%s: a write failed\n", page.name);
        return 1;
      }
      ours = std::min(ours, a);
      theirs = std::min(theirs, b);
    }
    const auto ourFile = ReadAll(captured), theirFile = ReadAll(baseline);
    std::printf("%-48s %12.1f %12.1f %8.2f %10.2f %s\n", page.name, kPagesPerJob / ours,
                kPagesPerJob / theirs, theirs / ours, ourFile.size() / 1048576.0,
                ourFile == theirFile ? "yes" : "NO");
  }
  std::remove(baseline.c_str());
  return 0;
}
