#pragma once
// One encoded page image, ready to become a PDF image XObject.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace verywrite {

enum class ImageKind { kBilevelG4, kGrayFlate, kRgbFlate };

struct PageImage {
  ImageKind kind = ImageKind::kRgbFlate;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  double xDpi = 72.0;
  double yDpi = 72.0;
  bool blackIs1 = false;          // G4 only: decoded 1 bits are black
  bool pngRows = false;           // Flate only: rows carry PNG filter bytes (Predictor 15)
  std::vector<unsigned char> data;  // the encoded stream
};

// Every directory of a TIFF image, encoded. False (and no pages) on any failure.
// flateLevel: libdeflate's level (1 to 12) for colour and grey pages.
bool ReadTiffPages(const unsigned char* data, std::size_t size, int flateLevel,
                   std::vector<PageImage>* pages, std::string* error);

}  // namespace verywrite
