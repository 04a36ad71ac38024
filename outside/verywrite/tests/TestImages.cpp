#include "TestImages.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <tiffio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace verywrite_test {
namespace {

struct Lcg {
  std::uint32_t state;
  std::uint32_t Next() {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  }
  std::uint32_t Below(std::uint32_t n) { return n ? Next() % n : 0; }
};

void SetBit(std::vector<unsigned char>& rows, std::uint32_t rowBytes, std::uint32_t x,
            std::uint32_t y) {
  rows[static_cast<std::size_t>(y) * rowBytes + x / 8] |= static_cast<unsigned char>(0x80 >> (x % 8));
}

}  // namespace

TestPage BilevelPage(std::uint32_t width, std::uint32_t height, float xDpi, float yDpi,
                     unsigned seed) {
  TestPage page;
  page.kind = PageKind::kBilevel;
  page.width = width;
  page.height = height;
  page.xDpi = xDpi;
  page.yDpi = yDpi;
  const std::uint32_t rowBytes = (width + 7) / 8;
  page.pixels.assign(static_cast<std::size_t>(rowBytes) * height, 0);
  Lcg rng{seed};
  const std::uint32_t margin = width / 12;
  const std::uint32_t lineHeight = std::max<std::uint32_t>(8, height / 60);
  // Lines of "words": short black runs with gaps, like text.
  for (std::uint32_t top = margin; top + lineHeight < height - margin; top += lineHeight * 3 / 2) {
    if (rng.Below(10) == 0) {  // a horizontal rule now and then
      for (std::uint32_t x = margin; x < width - margin; ++x) SetBit(page.pixels, rowBytes, x, top);
      continue;
    }
    std::uint32_t x = margin;
    const std::uint32_t end = width - margin - rng.Below(width / 3);
    while (x < end) {
      const std::uint32_t word = 3 + rng.Below(lineHeight * 3);
      for (std::uint32_t wx = x; wx < x + word && wx < end; ++wx) {
        if (rng.Below(4) == 0) continue;  // stems and counters
        const std::uint32_t y0 = top + rng.Below(lineHeight / 3);
        const std::uint32_t y1 = top + lineHeight - rng.Below(lineHeight / 3);
        for (std::uint32_t y = y0; y < y1; ++y) SetBit(page.pixels, rowBytes, wx, y);
      }
      x += word + 2 + rng.Below(lineHeight / 2);
    }
  }
  // A dithered picture block.
  for (std::uint32_t y = height / 2; y < height / 2 + height / 10; ++y)
    for (std::uint32_t x = width / 2; x < width - margin; ++x)
      if (rng.Below(width - margin) < x - width / 2 + (y % 7)) SetBit(page.pixels, rowBytes, x, y);
  // Ink in the last column and row, where rounding would show.
  for (std::uint32_t y = 0; y < height; y += 3) SetBit(page.pixels, rowBytes, width - 1, y);
  for (std::uint32_t x = 0; x < width; x += 5) SetBit(page.pixels, rowBytes, x, height - 1);
  return page;
}

void PaletteRgb(unsigned index, unsigned char rgb[3]) {
  rgb[0] = static_cast<unsigned char>(index * 37);
  rgb[1] = static_cast<unsigned char>(255 - index);
  rgb[2] = static_cast<unsigned char>((index * 11) ^ 0x5a);
}

TestPage ColourPage(PageKind kind, std::uint32_t width, std::uint32_t height, float dpi,
                    unsigned seed) {
  TestPage page;
  page.kind = kind;
  page.width = width;
  page.height = height;
  page.xDpi = page.yDpi = dpi;
  const unsigned channels = kind == PageKind::kRgb ? 3 : 1;
  page.pixels.assign(static_cast<std::size_t>(width) * height * channels, 255);
  Lcg rng{seed};
  auto put = [&](std::uint32_t x, std::uint32_t y, unsigned r, unsigned g, unsigned b) {
    unsigned char* p = &page.pixels[(static_cast<std::size_t>(y) * width + x) * channels];
    if (channels == 3) {
      p[0] = static_cast<unsigned char>(r);
      p[1] = static_cast<unsigned char>(g);
      p[2] = static_cast<unsigned char>(b);
    } else {
      p[0] = static_cast<unsigned char>((r * 3 + g * 5 + b * 2) / 10);
    }
  };
  // Header bar, coloured blocks, text-like runs, a gradient and a noisy photo.
  for (std::uint32_t y = 0; y < height / 12; ++y)
    for (std::uint32_t x = 0; x < width; ++x) put(x, y, 30, 60, 140);
  for (int block = 0; block < 12; ++block) {
    const std::uint32_t bx = rng.Below(width - width / 8), by = rng.Below(height - height / 8);
    const unsigned r = rng.Below(256), g = rng.Below(256), b = rng.Below(256);
    for (std::uint32_t y = by; y < by + height / 10; ++y)
      for (std::uint32_t x = bx; x < bx + width / 9; ++x) put(x, y, r, g, b);
  }
  for (std::uint32_t top = height / 6; top + 12 < height * 2 / 3; top += 24)
    for (std::uint32_t x = width / 10; x < width * 6 / 10; ++x)
      if (rng.Below(3))
        for (std::uint32_t y = top; y < top + 12; ++y) put(x, y, 20, 20, 20);
  for (std::uint32_t y = height * 2 / 3; y < height * 2 / 3 + height / 8; ++y)
    for (std::uint32_t x = 0; x < width / 2; ++x) put(x, y, x * 255 / width, y % 256, 128);
  for (std::uint32_t y = height * 2 / 3; y < height * 2 / 3 + height / 6 && y < height; ++y)
    for (std::uint32_t x = width / 2; x < width; ++x) {
      const unsigned noise = rng.Below(48);
      put(x, y, 120 + noise, 90 + noise / 2, 60 + (x * 60 / width));
    }
  put(width - 1, height - 1, 255, 0, 0);
  if (kind == PageKind::kPalette)
    for (auto& v : page.pixels) v = static_cast<unsigned char>(v / 3);  // indices 0..85
  return page;
}

std::string ExpectedNetpbm(const TestPage& page) {
  const std::string size = std::to_string(page.width) + " " + std::to_string(page.height) + "\n";
  if (page.kind == PageKind::kBilevel)
    return "P4\n" + size + std::string(page.pixels.begin(), page.pixels.end());
  std::string out = "P6\n" + size + "255\n";
  out.reserve(out.size() + static_cast<std::size_t>(page.width) * page.height * 3);
  if (page.kind == PageKind::kRgb) return out + std::string(page.pixels.begin(), page.pixels.end());
  for (unsigned char v : page.pixels) {
    unsigned char rgb[3] = {v, v, v};
    if (page.kind == PageKind::kPalette) PaletteRgb(v, rgb);
    out.append(reinterpret_cast<const char*>(rgb), 3);
  }
  return out;
}

std::vector<unsigned char> TiffBytes(const std::vector<TestPage>& pages) {
  char path[] = "/tmp/verywrite-tiff-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  close(fd);
  TIFF* tif = TIFFOpen(path, "w");
  if (!tif) throw std::runtime_error("TIFFOpen failed");
  for (const TestPage& page : pages) {
    const bool bilevel = page.kind == PageKind::kBilevel;
    const std::uint16_t samples = page.kind == PageKind::kRgb ? 3 : 1;
    const std::uint16_t compression =
        page.compression ? page.compression : (bilevel ? COMPRESSION_CCITTFAX4 : COMPRESSION_NONE);
    std::uint16_t photometric = PHOTOMETRIC_MINISWHITE;
    if (bilevel && page.blackIsZero) photometric = PHOTOMETRIC_MINISBLACK;
    if (page.kind == PageKind::kRgb) photometric = PHOTOMETRIC_RGB;
    if (page.kind == PageKind::kGray) photometric = PHOTOMETRIC_MINISBLACK;
    if (page.kind == PageKind::kPalette) photometric = PHOTOMETRIC_PALETTE;
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, page.xDpi);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, page.yDpi);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, page.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, page.height);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bilevel ? 1 : 8);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, page.oneStrip ? page.height : 1);
    std::vector<std::uint16_t> map[3];
    if (page.kind == PageKind::kPalette) {
      for (auto& m : map) m.assign(256, 0);
      for (unsigned i = 0; i < 256; ++i) {
        unsigned char rgb[3];
        PaletteRgb(i, rgb);
        for (int c = 0; c < 3; ++c) map[c][i] = static_cast<std::uint16_t>(rgb[c] * 257);
      }
      TIFFSetField(tif, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
    }
    const std::size_t rowBytes = bilevel ? (page.width + 7) / 8 : static_cast<std::size_t>(page.width) * samples;
    std::vector<unsigned char> row(rowBytes);
    for (std::uint32_t y = 0; y < page.height; ++y) {
      std::copy_n(page.pixels.begin() + static_cast<std::ptrdiff_t>(y * rowBytes), rowBytes, row.begin());
      if (photometric == PHOTOMETRIC_MINISBLACK && bilevel)
        for (auto& b : row) b = static_cast<unsigned char>(~b);
      if (TIFFWriteScanline(tif, row.data(), y, 0) < 0) throw std::runtime_error("write failed");
    }
    TIFFWriteDirectory(tif);
  }
  TIFFClose(tif);
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::remove(path);
  return bytes;
}

namespace {

struct TempFile {
  std::string path;
  explicit TempFile(const char* pattern) : path(pattern) {
    const int fd = mkstemp(path.data());
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    close(fd);
  }
  ~TempFile() { std::remove(path.c_str()); }
};

void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int Run(const std::string& command, std::string* output) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (!pipe) return -1;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
    if (output) output->append(buf, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

bool QpdfCheck(const std::vector<unsigned char>& pdf, std::string* report) {
  TempFile file("/tmp/verywrite-check-XXXXXX");
  WriteBytes(file.path, pdf);
  std::string output;
  const int status = Run("qpdf --check '" + file.path + "'", &output);
  if (report) *report = output;
  return status == 0 && output.find("No syntax or stream encoding errors") != std::string::npos;
}

std::string RenderPage(const std::vector<unsigned char>& pdf, int page, float xDpi, float yDpi,
                       bool mono) {
  TempFile file("/tmp/verywrite-render-XXXXXX");
  WriteBytes(file.path, pdf);
  char options[128];
  std::snprintf(options, sizeof options, "-singlefile -aa no -aaVector no %s-rx %g -ry %g -f %d -l %d",
                mono ? "-mono " : "", xDpi, yDpi, page, page);
  const std::string out = file.path + "-page";
  const std::string image = out + (mono ? ".pbm" : ".ppm");
  const int status = Run("pdftoppm " + std::string(options) + " '" + file.path + "' '" + out + "'", nullptr);
  std::string rendered = status == 0 ? ReadBytes(image) : std::string();
  std::remove(image.c_str());
  return rendered;
}

std::size_t FirstDifference(const std::string& a, const std::string& b) {
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return i;
  return a.size() == b.size() ? std::string::npos : n;
}

PdfSummary InspectPdf(const std::vector<unsigned char>& pdf) {
  PdfSummary summary;
  try {
    QPDF q;
    q.setSuppressWarnings(true);
    q.processMemoryFile("document.pdf", reinterpret_cast<const char*>(pdf.data()), pdf.size());
    for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(q).getAllPages()) {
      const QPDFObjectHandle::Rectangle box = page.getMediaBox().getArrayAsRectangle();
      summary.pageSizes.emplace_back(box.urx - box.llx, box.ury - box.lly);
    }
    summary.pages = static_cast<int>(summary.pageSizes.size());
    QPDFObjectHandle info = q.getTrailer().getKey("/Info");
    auto text = [&](const char* key) {
      QPDFObjectHandle v = info.isDictionary() ? info.getKey(key) : QPDFObjectHandle::newNull();
      return v.isString() ? v.getUTF8Value() : std::string();
    };
    summary.title = text("/Title");
    summary.subject = text("/Subject");
    summary.author = text("/Author");
    summary.keywords = text("/Keywords");
    summary.creator = text("/Creator");
    if (q.anyWarnings()) {
      summary.problem = "qpdf warned while reading";
      return summary;
    }
    summary.ok = true;
  } catch (const std::exception& e) {
    summary.problem = e.what();
  }
  return summary;
}

}  // namespace verywrite_test
