// TIFF directories to PDF-ready page images: bilevel pages re-encoded as one
// CCITT Group 4 strip, colour and grey pages PNG-filtered and deflated, without loss.
#include "PageImage.h"

#include <libdeflate.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <deque>
#include <future>
#include <limits>
#include <memory>
#include <thread>

namespace verywrite {
namespace {

// libtiff's handle state for a read-only image in memory or a growing buffer.
struct MemoryFile {
  const unsigned char* readData = nullptr;
  std::vector<unsigned char>* writeData = nullptr;
  std::uint64_t size = 0;
  std::uint64_t pos = 0;
};

tmsize_t MemRead(thandle_t h, void* buf, tmsize_t n) {
  auto* f = static_cast<MemoryFile*>(h);
  if (n < 0 || f->pos >= f->size) return 0;
  const std::uint64_t count = std::min<std::uint64_t>(static_cast<std::uint64_t>(n), f->size - f->pos);
  const unsigned char* src = f->readData ? f->readData : f->writeData->data();
  std::memcpy(buf, src + f->pos, count);
  f->pos += count;
  return static_cast<tmsize_t>(count);
}

tmsize_t MemWrite(thandle_t h, void* buf, tmsize_t n) {
  auto* f = static_cast<MemoryFile*>(h);
  if (!f->writeData || n < 0) return -1;
  const std::uint64_t end = f->pos + static_cast<std::uint64_t>(n);
  if (end > f->writeData->size()) f->writeData->resize(end);
  std::memcpy(f->writeData->data() + f->pos, buf, static_cast<std::size_t>(n));
  f->pos = end;
  if (end > f->size) f->size = end;
  return n;
}

toff_t MemSeek(thandle_t h, toff_t off, int whence) {
  auto* f = static_cast<MemoryFile*>(h);
  std::uint64_t base = 0;
  if (whence == SEEK_CUR) base = f->pos;
  if (whence == SEEK_END) base = f->size;
  const std::uint64_t target = base + off;
  // Reading past the end is refused; a writer may seek beyond it and fill later.
  if (f->readData && target > f->size) return static_cast<toff_t>(-1);
  f->pos = target;
  return f->pos;
}

int MemClose(thandle_t) { return 0; }
toff_t MemSize(thandle_t h) { return static_cast<MemoryFile*>(h)->size; }

// Lets libtiff read strips in place instead of copying them.
int MemMap(thandle_t h, void** base, toff_t* size) {
  auto* f = static_cast<MemoryFile*>(h);
  if (!f->readData) return 0;
  *base = const_cast<unsigned char*>(f->readData);
  *size = f->size;
  return 1;
}
void MemUnmap(thandle_t, void*, toff_t) {}

int KeepError(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
  auto* text = static_cast<std::string*>(user);
  if (!text->empty()) return 1;  // the first error is the telling one
  char line[512];
  std::vsnprintf(line, sizeof line, fmt, ap);
  *text = std::string(module ? module : "libtiff") + ": " + line;
  return 1;
}
int DropWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
using UniqueTiff = std::unique_ptr<TIFF, TiffCloser>;

UniqueTiff OpenMemory(MemoryFile* file, const char* mode, std::string* tiffError) {
  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  TIFFOpenOptionsSetErrorHandlerExtR(options, KeepError, tiffError);
  TIFFOpenOptionsSetWarningHandlerExtR(options, DropWarning, nullptr);
  TIFF* tif = TIFFClientOpenExt("memory", mode, file, MemRead, MemWrite, MemSeek, MemClose,
                                MemSize, MemMap, MemUnmap, options);
  TIFFOpenOptionsFree(options);
  return UniqueTiff(tif);
}

double DotsPerInch(TIFF* tif, ttag_t tag) {
  float value = 0;
  std::uint16_t unit = RESUNIT_INCH;
  if (!TIFFGetField(tif, tag, &value) || !(value > 0) || value > 1e6) return 72.0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
  if (unit == RESUNIT_CENTIMETER) return value * 2.54;
  if (unit == RESUNIT_NONE) return 72.0;  // only an aspect ratio; keep one pixel a point
  return value;
}

// All strips of the current directory, decoded, rows packed one after the other.
bool ReadStrips(TIFF* tif, std::uint64_t expected, std::vector<unsigned char>* pixels) {
  pixels->resize(expected);
  std::uint64_t done = 0;
  const tstrip_t strips = TIFFNumberOfStrips(tif);
  for (tstrip_t s = 0; s < strips && done < expected; ++s) {
    const tmsize_t got = TIFFReadEncodedStrip(tif, s, pixels->data() + done,
                                              static_cast<tmsize_t>(expected - done));
    if (got < 0) return false;
    done += static_cast<std::uint64_t>(got);
  }
  return done == expected;
}

// The whole page as one G4 strip, written through libtiff's own encoder.
bool EncodeG4(const std::vector<unsigned char>& pixels, std::uint32_t width, std::uint32_t height,
              std::vector<unsigned char>* out, std::string* tiffError) {
  std::vector<unsigned char> file;
  file.reserve(pixels.size() / 8 + 4096);
  MemoryFile sink;
  sink.writeData = &file;
  UniqueTiff tif = OpenMemory(&sink, "w", tiffError);
  if (!tif) return false;
  TIFFSetField(tif.get(), TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif.get(), TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tif.get(), TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif.get(), TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif.get(), TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
  TIFFSetField(tif.get(), TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif.get(), TIFFTAG_ROWSPERSTRIP, height);
  if (TIFFWriteEncodedStrip(tif.get(), 0, const_cast<unsigned char*>(pixels.data()),
                            static_cast<tmsize_t>(pixels.size())) < 0)
    return false;
  std::uint64_t* offsets = nullptr;
  std::uint64_t* counts = nullptr;
  if (!TIFFGetField(tif.get(), TIFFTAG_STRIPOFFSETS, &offsets) ||
      !TIFFGetField(tif.get(), TIFFTAG_STRIPBYTECOUNTS, &counts) || !offsets || !counts ||
      offsets[0] + counts[0] > file.size())
    return false;
  out->assign(file.begin() + static_cast<std::ptrdiff_t>(offsets[0]),
              file.begin() + static_cast<std::ptrdiff_t>(offsets[0] + counts[0]));
  return true;
}

inline int Paeth(int left, int up, int upLeft) {
  const int pa = std::abs(up - upLeft), pb = std::abs(left - upLeft),
            pc = std::abs(left + up - 2 * upLeft);
  return pa <= pb && pa <= pc ? left : pb <= pc ? up : upLeft;
}

// A filtered byte's weight for choosing a filter: its distance from zero as signed.
inline std::uint32_t Weight(int filtered) {
  const auto v = static_cast<unsigned char>(filtered);
  return std::min<unsigned char>(v, static_cast<unsigned char>(-v));
}

// One row under filter f (PNG numbering), in place: right to left, so each byte's
// left neighbour is still unfiltered when it is needed.
void FilterRow(unsigned f, unsigned char* row, const unsigned char* up, std::size_t n,
               unsigned channels) {
  for (std::size_t i = n; i-- > 0;) {
    const int left = i >= channels ? row[i - channels] : 0;
    const int upLeft = i >= channels ? up[i - channels] : 0;
    int predicted = 0;
    switch (f) {
      case 1: predicted = left; break;
      case 2: predicted = up[i]; break;
      case 3: predicted = (left + up[i]) >> 1; break;
      case 4: predicted = Paeth(left, up[i], upLeft); break;
    }
    row[i] = static_cast<unsigned char>(row[i] - predicted);
  }
}

// Pixel rows laid out as a PNG filter expects them: each row one byte (the filter
// type) plus the row's pixels. Not zeroed: every byte is written before use.
struct FilterRows {
  std::size_t rowBytes = 0;  // pixels only
  std::uint32_t height = 0;
  std::unique_ptr<unsigned char[]> bytes;

  FilterRows(std::size_t rowBytes_, std::uint32_t height_)
      : rowBytes(rowBytes_), height(height_), bytes(new unsigned char[Size()]) {}
  std::size_t Size() const { return height * (rowBytes + 1); }
  unsigned char* Row(std::uint32_t y) const { return bytes.get() + y * (rowBytes + 1) + 1; }
};

// The page's strips straight into the filter layout.
bool ReadRows(TIFF* tif, FilterRows* rows) {
  std::uint32_t perStrip = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &perStrip);
  perStrip = std::clamp<std::uint32_t>(perStrip, 1, rows->height);
  std::vector<unsigned char> strip;
  std::uint32_t y = 0;
  for (tstrip_t s = 0; s < TIFFNumberOfStrips(tif) && y < rows->height; ++s) {
    const std::uint32_t count = std::min(perStrip, rows->height - y);
    const tmsize_t want = static_cast<tmsize_t>(rows->rowBytes * count);
    if (count == 1) {
      if (TIFFReadEncodedStrip(tif, s, rows->Row(y), want) != want) return false;
    } else {
      strip.resize(static_cast<std::size_t>(want));
      if (TIFFReadEncodedStrip(tif, s, strip.data(), want) != want) return false;
      for (std::uint32_t r = 0; r < count; ++r)
        std::memcpy(rows->Row(y + r), strip.data() + r * rows->rowBytes, rows->rowBytes);
    }
    y += count;
  }
  return y == rows->height;
}

// PNG filters on every row, each row's filter chosen by the usual rule (the smallest
// sum of the filtered bytes taken as signed): rendered pages are mostly flat runs and
// repeated rows, which the filters turn into zeros; a photo's gradients compress far
// better as differences. A row equal to the one above (most rows of a page) is Up at
// once. Bottom up, so the row above is still unfiltered.
void FilterAll(FilterRows* rows, unsigned channels) {
  const std::size_t n = rows->rowBytes;
  const std::vector<unsigned char> zeroRow(n, 0);
  for (std::uint32_t y = rows->height; y-- > 0;) {
    unsigned char* row = rows->Row(y);
    const unsigned char* up = y ? rows->Row(y - 1) : zeroRow.data();
    if (y && std::memcmp(row, up, n) == 0) {
      row[-1] = 2;
      std::memset(row, 0, n);
      continue;
    }
    // Per row the sums stay far below 2^32; the first pixel has no left neighbours.
    std::uint32_t sum[5] = {};
    for (std::size_t i = 0; i < channels && i < n; ++i) {
      sum[0] += Weight(row[i]);
      sum[1] += Weight(row[i]);
      sum[2] += Weight(row[i] - up[i]);
      sum[3] += Weight(row[i] - (up[i] >> 1));
      sum[4] += Weight(row[i] - up[i]);  // Paeth of (0, up, 0) is up
    }
    std::uint32_t none = 0, sub = 0, upSum = 0, average = 0, paeth = 0;
    for (std::size_t i = channels; i < n; ++i) {
      const int x = row[i], u = up[i], left = row[i - channels], upLeft = up[i - channels];
      none += Weight(x);
      sub += Weight(x - left);
      upSum += Weight(x - u);
      average += Weight(x - ((left + u) >> 1));
      paeth += Weight(x - Paeth(left, u, upLeft));
    }
    sum[0] += none, sum[1] += sub, sum[2] += upSum, sum[3] += average, sum[4] += paeth;
    const unsigned best = static_cast<unsigned>(std::min_element(sum, sum + 5) - sum);
    row[-1] = static_cast<unsigned char>(best);
    FilterRow(best, row, up, n, channels);
  }
}

// Filtered and deflated into the page.
bool EncodeFlate(FilterRows* rows, unsigned channels, int level, PageImage* page) {
  FilterAll(rows, channels);
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  if (!c) return false;
  // The bound is the raw size and more; left unzeroed, only what is written is touched.
  const std::size_t bound = libdeflate_zlib_compress_bound(c, rows->Size());
  std::unique_ptr<unsigned char[]> out(new unsigned char[bound]);
  const std::size_t n = libdeflate_zlib_compress(c, rows->bytes.get(), rows->Size(), out.get(), bound);
  libdeflate_free_compressor(c);
  page->data.assign(out.get(), out.get() + n);
  page->pngRows = true;
  return n != 0;
}

// An existing single-strip G4 page goes into the PDF as it is.
bool TakeG4AsIs(TIFF* tif, std::uint32_t height, PageImage* page) {
  std::uint16_t compression = 0, fillOrder = FILLORDER_MSB2LSB;
  std::uint32_t t6Options = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &fillOrder);
  TIFFGetField(tif, TIFFTAG_GROUP4OPTIONS, &t6Options);
  if (compression != COMPRESSION_CCITTFAX4 || fillOrder != FILLORDER_MSB2LSB || t6Options != 0 ||
      TIFFIsTiled(tif) || TIFFNumberOfStrips(tif) != 1)
    return false;
  std::uint32_t rowsPerStrip = 0;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
  if (rowsPerStrip < height) return false;
  const tmsize_t size = TIFFRawStripSize(tif, 0);
  if (size <= 0) return false;
  page->data.resize(static_cast<std::size_t>(size));
  return TIFFReadRawStrip(tif, 0, page->data.data(), size) == size;
}

// A page read but not yet encoded: encoding is most of the work and needs no libtiff
// handle of the source, so it can run beside the reading of the next page.
struct PendingEncode {
  std::unique_ptr<FilterRows> rows;  // colour or grey
  unsigned channels = 0;
  std::vector<unsigned char> bilevel;  // packed rows, for Group 4

  bool Pending() const { return rows || !bilevel.empty(); }
  bool Run(int flateLevel, PageImage* page) {
    if (rows) return EncodeFlate(rows.get(), channels, flateLevel, page);
    std::string tiffError;  // the caller reports the page, not libtiff's words
    return EncodeG4(bilevel, page->width, page->height, &page->data, &tiffError);
  }
};

// The current directory as a page, or its pixels in *deferred when they still need
// encoding.
bool ReadPage(TIFF* tif, PageImage* page, PendingEncode* deferred, std::string* tiffError) {
  std::uint32_t width = 0, height = 0;
  std::uint16_t bits = 1, samples = 1, photometric = PHOTOMETRIC_MINISWHITE,
                planar = PLANARCONFIG_CONTIG;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
    photometric = samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISWHITE;
  // Keep every page well inside what a PDF viewer and 32-bit sizes can take.
  if (width == 0 || height == 0 || width > 100000 || height > 100000 ||
      static_cast<std::uint64_t>(width) * height > 400000000ull) {
    *tiffError = "unsupported page size";
    return false;
  }
  page->width = width;
  page->height = height;
  page->xDpi = DotsPerInch(tif, TIFFTAG_XRESOLUTION);
  page->yDpi = DotsPerInch(tif, TIFFTAG_YRESOLUTION);

  const bool tiled = TIFFIsTiled(tif);
  if (bits == 1 && samples == 1 &&
      (photometric == PHOTOMETRIC_MINISWHITE || photometric == PHOTOMETRIC_MINISBLACK)) {
    page->kind = ImageKind::kBilevelG4;
    if (TakeG4AsIs(tif, height, page)) {
      page->blackIs1 = photometric == PHOTOMETRIC_MINISBLACK;
      return true;
    }
    if (!tiled) {
      // G4 "white" codes are 0 bits, so the photometric only says how to read them.
      page->blackIs1 = photometric == PHOTOMETRIC_MINISBLACK;
      const std::uint64_t rowBytes = (static_cast<std::uint64_t>(width) + 7) / 8;
      return ReadStrips(tif, rowBytes * height, &deferred->bilevel);
    }
  }
  if (!tiled && bits == 8 && planar == PLANARCONFIG_CONTIG &&
      ((samples == 3 && photometric == PHOTOMETRIC_RGB) ||
       (samples == 1 && photometric == PHOTOMETRIC_MINISBLACK))) {
    page->kind = samples == 3 ? ImageKind::kRgbFlate : ImageKind::kGrayFlate;
    deferred->rows = std::make_unique<FilterRows>(static_cast<std::size_t>(width) * samples, height);
    deferred->channels = samples;
    return ReadRows(tif, deferred->rows.get());
  }

  // Anything else (palettes, 16 bits, CMYK, YCbCr, tiles, bilevel tiles) as 8-bit RGB.
  std::vector<std::uint32_t> raster(static_cast<std::size_t>(width) * height);
  if (!TIFFReadRGBAImageOriented(tif, width, height, raster.data(), ORIENTATION_TOPLEFT, 0)) {
    if (tiffError->empty()) *tiffError = "unsupported image layout";
    return false;
  }
  auto rows = std::make_unique<FilterRows>(static_cast<std::size_t>(width) * 3, height);
  const std::uint32_t* abgr = raster.data();
  for (std::uint32_t y = 0; y < height; ++y)
    for (unsigned char *p = rows->Row(y), *end = p + rows->rowBytes; p < end; ++abgr) {
      *p++ = static_cast<unsigned char>(TIFFGetR(*abgr));
      *p++ = static_cast<unsigned char>(TIFFGetG(*abgr));
      *p++ = static_cast<unsigned char>(TIFFGetB(*abgr));
    }
  page->kind = ImageKind::kRgbFlate;
  deferred->rows = std::move(rows);
  deferred->channels = 3;
  return true;
}

}  // namespace

bool ReadTiffPages(const unsigned char* data, std::size_t size, int flateLevel,
                   std::vector<PageImage>* pages, std::string* error) {
  std::string tiffError;
  if (!data || size < 8) {
    *error = "not a TIFF image";
    return false;
  }
  MemoryFile source;
  source.readData = data;
  source.size = size;
  UniqueTiff tif = OpenMemory(&source, "r", &tiffError);
  if (!tif) {
    *error = tiffError.empty() ? "not a TIFF image" : tiffError;
    return false;
  }
  // Pages are encoded on up to one thread a core while the next pages are read; a
  // deque keeps each page where its encoder writes. The futures are declared last,
  // so on the way out they are waited for before the pages go.
  std::deque<PageImage> read;
  std::deque<std::future<bool>> encoding;
  const std::size_t threads = std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, 4);
  bool encoded = true;
  auto waitOldest = [&] {
    encoded = encoding.front().get() && encoded;
    encoding.pop_front();
  };
  do {
    PageImage& page = read.emplace_back();
    PendingEncode deferred;
    if (!ReadPage(tif.get(), &page, &deferred, &tiffError)) {
      *error = "page " + std::to_string(read.size()) + ": " +
               (tiffError.empty() ? "cannot be decoded" : tiffError);
      return false;
    }
    if (deferred.Pending()) {
      if (encoding.size() >= threads) waitOldest();
      encoding.push_back(std::async(std::launch::async, [&page, flateLevel, job = std::move(deferred)]() mutable {
        return job.Run(flateLevel, &page);
      }));
    }
    tiffError.clear();
  } while (TIFFReadDirectory(tif.get()));
  while (!encoding.empty()) waitOldest();
  if (!tiffError.empty()) {  // a broken directory chain is not a whole document
    *error = tiffError;
    return false;
  }
  if (!encoded) {
    *error = "a page cannot be encoded";
    return false;
  }
  for (auto& page : read) pages->push_back(std::move(page));
  return true;
}

}  // namespace verywrite
