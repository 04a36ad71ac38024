// Built with the ZF_UNDEF_WIN32 flags: libtiff's headers must take their Unix branch.
#include <tiffio.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "../client/Owners.h"
#include "TiffFile.h"

namespace pagetrap {
namespace {

// ReadFile and WriteFile take at most a DWORD at a time.
constexpr uint64_t kChunk = 1 << 30;
// Held back at most; a band of RGB rows at 300 dpi is about 1 MB.
constexpr size_t kHoldLimit = 4 << 20;

bool WriteAll(HANDLE file, const char* data, uint64_t size) {
  for (uint64_t done = 0; done < size;) {
    const DWORD want = static_cast<DWORD>(std::min(size - done, kChunk));
    DWORD put = 0;
    if (!WriteFile(file, data + done, want, &put, nullptr) || put != want) return false;
    done += put;
  }
  return true;
}

bool SeekTo(HANDLE file, uint64_t position) {
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(position);
  return SetFilePointerEx(file, distance, nullptr, FILE_BEGIN) != 0;
}

// The file as libtiff sees it: a position and a size of its own, with the bytes
// written since the last flush held in one contiguous run.
class HeldFile {
 public:
  explicit HeldFile(zf::UniqueFile file) : file_(std::move(file)) {}

  tmsize_t Write(const void* data, tmsize_t size) {
    if (size < 0) return -1;
    const auto n = static_cast<uint64_t>(size);
    if (position_ != heldStart_ + held_.size() || held_.size() + n > kHoldLimit) {
      if (!Flush()) return -1;
    }
    if (held_.empty()) heldStart_ = position_;
    if (n > kHoldLimit) {
      if (!SeekTo(file_.get(), position_) ||
          !WriteAll(file_.get(), static_cast<const char*>(data), n)) {
        lost_ = true;
        return -1;
      }
    } else {
      held_.insert(held_.end(), static_cast<const char*>(data), static_cast<const char*>(data) + n);
    }
    position_ += n;
    size_ = std::max(size_, position_);
    return size;
  }

  tmsize_t Read(void* data, tmsize_t size) {
    if (size < 0 || !Flush() || !SeekTo(file_.get(), position_)) return -1;
    tmsize_t done = 0;
    while (done < size) {
      const DWORD want = static_cast<DWORD>(std::min<uint64_t>(size - done, kChunk));
      DWORD got = 0;
      if (!ReadFile(file_.get(), static_cast<char*>(data) + done, want, &got, nullptr)) return -1;
      if (got == 0) break;
      done += got;
    }
    position_ += static_cast<uint64_t>(done);
    return done;
  }

  toff_t Seek(toff_t offset, int whence) {
    const uint64_t base = whence == SEEK_CUR ? position_ : whence == SEEK_END ? size_ : 0;
    position_ = base + offset;
    return position_;
  }

  toff_t Size() const { return size_; }

  bool Flush() {
    if (held_.empty()) return true;
    const bool written =
        SeekTo(file_.get(), heldStart_) && WriteAll(file_.get(), held_.data(), held_.size());
    held_.clear();
    if (!written) lost_ = true;
    return written;
  }

  // Flushes; false when bytes were lost since the last report, also where
  // libtiff saw the failure and did not tell (a directory written at a page end).
  bool Report() {
    const bool kept = Flush() && !lost_;
    lost_ = false;
    return kept;
  }

  bool Close() {
    const bool flushed = Flush();
    file_.reset();
    return flushed;
  }

 private:
  zf::UniqueFile file_;
  std::vector<char> held_;
  uint64_t heldStart_ = 0;
  uint64_t position_ = 0;
  uint64_t size_ = 0;  // the file was created empty
  bool lost_ = false;
};

HeldFile& FileOf(thandle_t client) { return *static_cast<HeldFile*>(client); }

tmsize_t ReadProc(thandle_t client, void* data, tmsize_t size) {
  return FileOf(client).Read(data, size);
}
tmsize_t WriteProc(thandle_t client, void* data, tmsize_t size) {
  return FileOf(client).Write(data, size);
}
toff_t SeekProc(thandle_t client, toff_t offset, int whence) {
  return FileOf(client).Seek(offset, whence);
}
int CloseProc(thandle_t client) {
  HeldFile* file = &FileOf(client);
  const bool flushed = file->Close();
  delete file;
  return flushed ? 0 : -1;
}
toff_t SizeProc(thandle_t client) { return FileOf(client).Size(); }
// No memory mapping: libtiff then reads through ReadProc.
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

}  // namespace

tiff* OpenTiffForWriting(const char* windowsPath) {
  // libtiff reads back what it wrote when it links directories, hence read access too.
  zf::UniqueFile file(CreateFileA(windowsPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return nullptr;
  auto* held = new HeldFile(std::move(file));
  TIFF* out = TIFFClientOpen(windowsPath, "w", static_cast<thandle_t>(held), ReadProc, WriteProc,
                             SeekProc, CloseProc, SizeProc, MapProc, UnmapProc);
  // On success TIFFClose closes the file through CloseProc; on failure it stays ours.
  if (!out) {
    delete held;
    return nullptr;
  }
  // The header goes out at once: a file that takes no bytes is not open.
  if (!held->Report()) {
    TIFFClose(out);
    return nullptr;
  }
  return out;
}

bool FlushTiff(tiff* file) { return file && FileOf(TIFFClientdata(file)).Report(); }

void CloseTiff(tiff* file) {
  if (file) TIFFClose(file);
}

}  // namespace pagetrap
