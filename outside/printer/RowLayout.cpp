#include "RowLayout.h"

#include <cstring>

namespace zf::printer {

int DeliveredWidth(int type, int pageWidth) {
  return type == kRasterMono ? (pageWidth + 7) / 8 * 8 : pageWidth;
}

std::size_t BandStride(int type, int deliveredWidth) {
  const auto width = static_cast<std::size_t>(deliveredWidth);
  return type == kRasterMono ? width / 8 : (width * 3 + 3) / 4 * 4;
}

std::size_t PnmRowBytes(int type, int pageWidth) {
  const auto width = static_cast<std::size_t>(pageWidth);
  return type == kRasterMono ? (width + 7) / 8 : width * 3;
}

void ConvertPbmRow(const unsigned char* pbm, int pageWidth, unsigned char* out) {
  const std::size_t bytes = PnmRowBytes(kRasterMono, pageWidth);
  for (std::size_t i = 0; i < bytes; ++i) out[i] = static_cast<unsigned char>(~pbm[i]);
  const int spare = static_cast<int>(bytes * 8) - pageWidth;
  if (spare > 0) out[bytes - 1] |= static_cast<unsigned char>((1u << spare) - 1);
}

void ConvertPpmRow(const unsigned char* ppm, int pageWidth, unsigned char* out) {
  const std::size_t bytes = PnmRowBytes(kRasterRgb, pageWidth);
  std::memcpy(out, ppm, bytes);
  std::memset(out + bytes, 0, BandStride(kRasterRgb, pageWidth) - bytes);
}

}  // namespace zf::printer
