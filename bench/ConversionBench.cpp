// Capture TIFF to PDF: the conversion library's core (verywrite, driven directly and
// natively, with the settings the exit module asks for: VerySetFunction effort 2)
// against tiff2pdf for 1-bit pages and tiff2pdf -z and img2pdf for RGB pages, on the
// same capture files in one run. Times are the best of a few runs and include
// reading the TIFF file and writing the PDF file.
//
// conversion_bench [folder]   (default: a new folder under /tmp, removed afterwards)
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "PdfDocument.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 5;
constexpr int kPagesPerDocument = 4;

// One capture page, as the exit module gets it: 1 bit a pixel (1 = black) or RGB.
struct Page {
  bool bilevel = true;
  std::uint32_t width = 0, height = 0;
  float xDpi = 300, yDpi = 300;
  std::vector<unsigned char> pixels;
};

struct Lcg {
  std::uint32_t state;
  std::uint32_t Below(std::uint32_t n) {
    state = state * 1664525u + 1013904223u;
    return n ? (state >> 8) % n : 0;
  }
};

// A printed text page: margins, lines of words made of glyph-like stems, bowls and
// serifs at the page's resolution, headings, rules and a few underlined links.
Page TextPage(float xDpi, float yDpi, unsigned seed) {
  Page page;
  page.xDpi = xDpi;
  page.yDpi = yDpi;
  page.width = static_cast<std::uint32_t>(8.5 * xDpi) / 8 * 8;
  page.height = static_cast<std::uint32_t>(11 * yDpi);
  const std::uint32_t rowBytes = page.width / 8;
  page.pixels.assign(static_cast<std::size_t>(rowBytes) * page.height, 0);
  auto set = [&](std::uint32_t x, std::uint32_t y) {
    if (x < page.width && y < page.height)
      page.pixels[static_cast<std::size_t>(y) * rowBytes + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
  };
  Lcg rng{seed};
  const std::uint32_t left = static_cast<std::uint32_t>(xDpi * 0.75), right = page.width - left;
  // 10-point text: x-height about 0.075 in, line pitch 0.17 in.
  const std::uint32_t glyphW = static_cast<std::uint32_t>(xDpi * 0.07);
  const std::uint32_t xHeight = static_cast<std::uint32_t>(yDpi * 0.075);
  const std::uint32_t pitch = static_cast<std::uint32_t>(yDpi * 0.17);
  const std::uint32_t stem = std::max<std::uint32_t>(1, static_cast<std::uint32_t>(xDpi / 100));
  for (std::uint32_t base = static_cast<std::uint32_t>(yDpi * 0.9); base + pitch < page.height - yDpi * 0.7;
       base += pitch) {
    const unsigned kind = rng.Below(20);
    if (kind == 0) {  // a rule
      for (std::uint32_t x = left; x < right; ++x) set(x, base - xHeight / 2);
      continue;
    }
    const bool heading = kind == 1;
    const std::uint32_t scale = heading ? 2 : 1;
    std::uint32_t x = left;
    const std::uint32_t end = right - rng.Below((right - left) / 4);
    while (x + glyphW * scale < end) {
      const std::uint32_t letters = 2 + rng.Below(8);
      const bool link = rng.Below(15) == 0;
      const std::uint32_t wordStart = x;
      for (std::uint32_t l = 0; l < letters && x + glyphW * scale < end; ++l) {
        const std::uint32_t w = glyphW * scale * (6 + rng.Below(5)) / 8, h = xHeight * scale;
        const unsigned shape = rng.Below(4);
        const std::uint32_t top = base - h - (rng.Below(3) == 0 ? h / 2 : 0);  // ascenders
        for (std::uint32_t s = 0; s < stem * scale; ++s)
          for (std::uint32_t y = top; y < base; ++y) set(x + s, y);  // left stem
        if (shape >= 1)
          for (std::uint32_t s = 0; s < stem * scale; ++s)
            for (std::uint32_t y = base - h; y < base; ++y) set(x + w - 1 - s, y);  // right stem
        if (shape >= 2)
          for (std::uint32_t s = 0; s < stem * scale; ++s)
            for (std::uint32_t xx = x; xx < x + w; ++xx) set(xx, base - h + s);  // bowl top
        if (shape == 3)
          for (std::uint32_t s = 0; s < stem * scale; ++s)
            for (std::uint32_t xx = x; xx < x + w; ++xx) set(xx, base - 1 - s);  // bowl bottom
        x += w + glyphW * scale / 4;
      }
      if (link)
        for (std::uint32_t xx = wordStart; xx < x; ++xx) set(xx, base + stem);
      x += glyphW * scale * 3 / 4;
    }
    if (heading) base += pitch;
  }
  return page;
}

// A rendered web page at 300 dpi: header bar, coloured blocks and buttons, dark text
// with grey anti-aliasing, and a photo (smooth shapes, gradients and sensor noise).
Page WebPageRgb(unsigned seed) {
  Page page;
  page.bilevel = false;
  page.width = 2550;
  page.height = 3300;
  page.pixels.assign(static_cast<std::size_t>(page.width) * page.height * 3, 255);
  Lcg rng{seed};
  auto put = [&](std::uint32_t x, std::uint32_t y, int r, int g, int b) {
    unsigned char* p = &page.pixels[(static_cast<std::size_t>(y) * page.width + x) * 3];
    p[0] = static_cast<unsigned char>(std::clamp(r, 0, 255));
    p[1] = static_cast<unsigned char>(std::clamp(g, 0, 255));
    p[2] = static_cast<unsigned char>(std::clamp(b, 0, 255));
  };
  auto fill = [&](std::uint32_t x0, std::uint32_t y0, std::uint32_t x1, std::uint32_t y1, int r, int g, int b) {
    for (std::uint32_t y = y0; y < y1 && y < page.height; ++y)
      for (std::uint32_t x = x0; x < x1 && x < page.width; ++x) put(x, y, r, g, b);
  };
  fill(0, 0, page.width, 260, 24, 64, 140);           // header
  fill(0, 260, page.width, 330, 235, 238, 242);       // menu bar
  for (int i = 0; i < 6; ++i) fill(150 + i * 380, 275, 450 + i * 380, 315, 200, 205, 215);
  fill(1950, 400, 2450, 3100, 246, 246, 240);         // side column
  for (int i = 0; i < 5; ++i) fill(2000, 450 + i * 500, 2400, 800 + i * 500, 60 + 30 * i, 140, 200 - 25 * i);
  // Text: glyph-like strokes in near-black with one grey edge pixel.
  for (std::uint32_t base = 400; base < 1500; base += 50) {
    std::uint32_t x = 150;
    const std::uint32_t end = 1850 - rng.Below(400);
    while (x < end) {
      const std::uint32_t w = 12 + rng.Below(10);
      for (std::uint32_t y = base - 22; y < base; ++y) {
        put(x, y, 30, 30, 30), put(x + 1, y, 30, 30, 30), put(x + 2, y, 150, 150, 150);
        if (rng.Below(3)) put(x + w - 2, y, 30, 30, 30), put(x + w - 1, y, 150, 150, 150);
      }
      for (std::uint32_t xx = x; xx < x + w; ++xx) put(xx, base - 22, 30, 30, 30);
      x += w + 6 + (rng.Below(5) == 0 ? 20 : 0);
    }
  }
  // The photo: 1700 x 1300 pixels.
  const std::uint32_t px = 150, py = 1600, pw = 1700, ph = 1300;
  for (std::uint32_t y = 0; y < ph; ++y)
    for (std::uint32_t x = 0; x < pw; ++x) {
      const double fx = x / double(pw), fy = y / double(ph);
      double r = 90 + 80 * fy + 30 * std::sin(fx * 9 + fy * 3);            // sky to ground
      double g = 120 + 60 * std::sin(fx * 4) * std::cos(fy * 5);
      double b = 170 - 90 * fy + 20 * std::cos(fx * 13);
      const double dx = fx - 0.6, dy = fy - 0.55;
      if (dx * dx + dy * dy < 0.05) r += 70, g -= 30, b -= 60;          // a subject
      // Sensor noise, partly shared by the channels (luminance), partly not.
      const int luma = static_cast<int>(rng.Below(7)) - 3;
      put(px + x, py + y, static_cast<int>(r) + luma + static_cast<int>(rng.Below(3)) - 1,
          static_cast<int>(g) + luma + static_cast<int>(rng.Below(3)) - 1,
          static_cast<int>(b) + luma + static_cast<int>(rng.Below(3)) - 1);
    }
  fill(0, 3150, page.width, page.height, 50, 50, 55);  // footer
  return page;
}

// The capture file: one directory a page, the exit module's tags, one row a strip.
bool WriteCaptureTiff(const std::string& path, const std::vector<Page>& pages) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  if (!tif) return false;
  bool ok = true;
  for (const Page& page : pages) {
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, page.xDpi);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, page.yDpi);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, page.height);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, page.bilevel ? COMPRESSION_CCITTFAX4 : COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, page.bilevel ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, page.bilevel ? 1 : 3);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, page.bilevel ? 1 : 8);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1);
    const std::size_t rowBytes = page.bilevel ? page.width / 8 : page.width * 3;
    std::vector<unsigned char> row(rowBytes);
    for (std::uint32_t y = 0; y < page.height && ok; ++y) {
      std::copy_n(&page.pixels[y * rowBytes], rowBytes, row.begin());
      ok = TIFFWriteScanline(tif, row.data(), y, 0) >= 0;
    }
    TIFFWriteDirectory(tif);
  }
  TIFFClose(tif);
  return ok;
}

long FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The conversion as the library does it: the TIFF file mapped, the core, the PDF
// written to its file.
double Verywrite(const std::string& tiff, const std::string& pdf, int flateLevel) {
  const auto start = Clock::now();
  const int fd = open(tiff.c_str(), O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) return -1;
  const std::size_t size = static_cast<std::size_t>(st.st_size);
  void* view = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (view == MAP_FAILED) return -1;
  verywrite::PdfDocument doc;
  doc.SetInfo({"Zentrafold Saved Page", "", "Zentrafold", "Keywords", "Zentrafold"});
  doc.SetFlateLevel(flateLevel);
  std::vector<unsigned char> out;
  std::string error;
  const bool ok = doc.AddTiff(static_cast<const unsigned char*>(view), size, &error) && doc.Write(&out, &error);
  munmap(view, size);
  if (!ok) {
    std::fprintf(stderr, "verywrite: %s\n", error.c_str());
    return -1;
  }
  std::ofstream(pdf, std::ios::binary).write(reinterpret_cast<const char*>(out.data()),
                                              static_cast<std::streamsize>(out.size()));
  return Since(start);
}

double Tool(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const auto start = Clock::now();
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ)) return -1;
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return Since(start);
}

template <typename Fn>
double Best(Fn fn) {
  double best = 1e9;
  for (int i = 0; i < kRuns; ++i) {
    const double t = fn();
    if (t < 0) return -1;
    best = std::min(best, t);
  }
  return best;
}

// The decoded image of every page equals the capture's pixels.
bool Lossless(const std::string& pdf, const std::vector<Page>& pages) {
  try {
    QPDF q;
    q.processFile(pdf.c_str());
    std::size_t i = 0;
    for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(q).getAllPages()) {
      if (i >= pages.size()) return false;
      for (auto& [name, image] : page.getImages()) {
        const auto data = image.getStreamData(qpdf_dl_generalized);
        if (data->getSize() != pages[i].pixels.size() ||
            !std::equal(pages[i].pixels.begin(), pages[i].pixels.end(), data->getBuffer()))
          return false;
      }
      ++i;
    }
    return i == pages.size();
  } catch (const std::exception&) {
    return false;
  }
}

struct Row {
  const char* name;
  double seconds;
  long bytes;
};

void Report(const char* title, long tiffBytes, const std::vector<Row>& rows) {
  std::printf("\n%s (capture TIFF %.2f MB, %d pages)\n", title, tiffBytes / 1e6, kPagesPerDocument);
  std::printf("  %-26s %9s %12s %10s %10s\n", "converter", "seconds", "PDF bytes", "time/base", "size/base");
  for (const Row& r : rows)
    std::printf("  %-26s %9.3f %12ld %10.2f %10.2f\n", r.name, r.seconds, r.bytes, r.seconds / rows[1].seconds,
                double(r.bytes) / rows[1].bytes);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  bool keep = argc > 1;
  if (keep) {
    dir = argv[1];
  } else {
    char name[] = "/tmp/conversion-bench-XXXXXX";
    if (!mkdtemp(name)) return 1;
    dir = name;
  }
  std::printf("Capture TIFF to PDF; best of %d runs; base = the second row.\n", kRuns);
  std::printf("verywrite: the library's core at the exit module's settings (effort 2: Flate level %d),\n"
              "run natively; efforts 1 and 3 (levels %d, %d) shown for comparison.\n",
              verywrite::kDefaultFlateLevel, verywrite::kFlateLevelForEffort[0],
              verywrite::kFlateLevelForEffort[2]);

  struct Set {
    const char* title;
    std::vector<Page> pages;
  };
  std::vector<Set> sets;
  sets.push_back({"1-bit text pages, Letter, 204 x 196 dpi", {}});
  sets.push_back({"1-bit text pages, Letter, 300 dpi", {}});
  sets.push_back({"RGB web pages with a photo, Letter, 300 dpi", {}});
  for (int i = 0; i < kPagesPerDocument; ++i) {
    sets[0].pages.push_back(TextPage(204, 196, 100 + i));
    sets[1].pages.push_back(TextPage(300, 300, 200 + i));
    sets[2].pages.push_back(WebPageRgb(300 + i));
  }

  int failures = 0;
  for (std::size_t s = 0; s < sets.size(); ++s) {
    const Set& set = sets[s];
    const std::string base = dir + "/set" + std::to_string(s);
    const std::string tiff = base + ".tif";
    if (!WriteCaptureTiff(tiff, set.pages)) return 1;
    const std::string ours = base + "-verywrite.pdf";
    std::vector<Row> rows;
    const double t = Best([&] { return Verywrite(tiff, ours, verywrite::kDefaultFlateLevel); });
    rows.push_back({"verywrite", t, FileSize(ours)});
    // Bilevel pages are checked pixel for pixel by the library's tests (qpdf has no
    // CCITT decoder); here the Flate pages.
    const bool lossless = set.pages[0].bilevel || Lossless(ours, set.pages);
    if (set.pages[0].bilevel) {
      const std::string theirs = base + "-tiff2pdf.pdf";
      rows.push_back({"tiff2pdf", Best([&] { return Tool({"tiff2pdf", "-o", theirs, tiff}); }), FileSize(theirs)});
    } else {
      const std::string z = base + "-tiff2pdf-z.pdf", img = base + "-img2pdf.pdf";
      rows.push_back({"tiff2pdf -z", Best([&] { return Tool({"tiff2pdf", "-z", "-o", z, tiff}); }), FileSize(z)});
      rows.push_back({"img2pdf", Best([&] { return Tool({"img2pdf", "-o", img, tiff}); }), FileSize(img)});
      static const char* const kEfforts[] = {"verywrite effort 1", "verywrite effort 3"};
      const int levels[] = {verywrite::kFlateLevelForEffort[0], verywrite::kFlateLevelForEffort[2]};
      for (int e = 0; e < 2; ++e) {
        const std::string other = base + "-verywrite-" + std::to_string(levels[e]) + ".pdf";
        rows.push_back({kEfforts[e], Best([&] { return Verywrite(tiff, other, levels[e]); }), FileSize(other)});
      }
    }
    Report(set.title, FileSize(tiff), rows);
    if (!set.pages[0].bilevel)
      std::printf("  verywrite output decodes to the capture's pixels: %s\n", lossless ? "yes" : "NO");
    failures += !lossless;
    for (const Row& r : rows)
      if (r.seconds < 0) std::printf("  %s failed\n", r.name), ++failures;
  }
  if (!keep) std::system(("rm -rf '" + dir + "'").c_str());
  return failures ? 1 : 0;
}
