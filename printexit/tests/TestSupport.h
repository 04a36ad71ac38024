#pragma once
// Helpers for pagetrap's tests: the module loaded as the driver loads it,
// message boxes answered from another thread, band memory that faults past its
// end, settings put back after a case, and the capture file read back with libtiff.
#include <tiffio.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "../../client/Owners.h"

#include "TestFiles.h"
#include "WinePaths.h"

namespace pagetrap::test {

inline constexpr char kSettingsKey[] = "Software\\Orvane Software\\Zentrafold";

// The four exits of pagetrap.dll, loaded by path once per process.
struct Exits {
  using Simple = SHORT(WINAPI*)();
  using EndPage = SHORT(WINAPI*)(BYTE* bits, INT rows, INT width, INT type, INT resolution,
                                 INT more);
  Simple startDoc = nullptr;
  Simple startPage = nullptr;
  EndPage endPage = nullptr;
  Simple endDoc = nullptr;
  bool Loaded() const { return startDoc && startPage && endPage && endDoc; }
};
const Exits& Pagetrap();

using zftest::DosPath;
using zftest::UnixPath;
// <system directory>\NEDIP.TIF
std::string CaptureFile();
std::string AppDataFolder();
bool FileExists(const std::string& path);
using zftest::ReadWholeFile;
using zftest::SplitLines;
// Makes the folder and the folders above it.
void MakeFolders(const std::string& path);
using zftest::RemoveTree;

// A "ModuleLocation" folder (made when missing) holding the stand-ins asked for:
// the recording converter as verywrite.dll, complete or without VeryAddText,
// and the recording uploader as ZentrafoldUpload.exe. Copied once per process,
// as a loaded module or a running program must not be overwritten.
enum class Converter { kNone, kComplete, kIncomplete };
std::string MakeModuleFolder(const std::string& folder, Converter converter, bool uploader);

// A message box as a user saw it.
struct Message {
  std::string caption;
  std::string text;
  bool operator==(const Message& other) const {
    return caption == other.caption && text == other.text;
  }
};
std::ostream& operator<<(std::ostream& out, const Message& message);

// While alive, every message box that the creating thread shows is read and
// answered with OK from a watcher thread.
class MessageBoxAnswerer {
 public:
  MessageBoxAnswerer();
  MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
  MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;
  ~MessageBoxAnswerer();
  // The boxes answered so far; forgets them.
  std::vector<Message> Take();

 private:
  static DWORD WINAPI Watch(void* self);
  static BOOL CALLBACK Visit(HWND window, LPARAM self);

  DWORD ownerThread_;
  zf::UniqueHandle stop_;
  zf::UniqueHandle thread_;
  CRITICAL_SECTION lock_;
  std::vector<HWND> answered_;
  std::vector<Message> seen_;
};

// Band memory whose last byte is followed by an inaccessible page, so reading
// or writing past the band faults at once.
class GuardedBand {
 public:
  explicit GuardedBand(size_t size);
  GuardedBand(const GuardedBand&) = delete;
  GuardedBand& operator=(const GuardedBand&) = delete;
  ~GuardedBand();
  BYTE* data() const { return data_; }
  size_t size() const { return size_; }
  std::vector<BYTE> Copy() const { return {data_, data_ + size_}; }

 private:
  void* base_ = nullptr;
  BYTE* data_ = nullptr;
  size_t size_ = 0;
};

// Documents that appear in <AppData>\Zentrafold while alive are deleted at its end.
class NewDocumentsRemoved {
 public:
  NewDocumentsRemoved();
  NewDocumentsRemoved(const NewDocumentsRemoved&) = delete;
  NewDocumentsRemoved& operator=(const NewDocumentsRemoved&) = delete;
  ~NewDocumentsRemoved();

 private:
  static std::vector<std::string> Documents();
  std::vector<std::string> before_;
};

// A registry value saved at construction and put back (or deleted again) at destruction.
class SavedValue {
 public:
  SavedValue(HKEY root, const char* key, const char* name);
  SavedValue(const SavedValue&) = delete;
  SavedValue& operator=(const SavedValue&) = delete;
  ~SavedValue();

 private:
  HKEY root_;
  std::string key_;
  std::string name_;
  bool existed_ = false;
  DWORD type_ = 0;
  std::vector<BYTE> data_;
};

LSTATUS SetSetting(const char* name, const std::string& value);
void DeleteSetting(const char* name);
bool HasSetting(const char* name);

// One directory of the capture file, as libtiff reads it.
struct TiffPage {
  uint32_t width = 0, length = 0, rowsPerStrip = 0;
  uint16_t compression = 0, photometric = 0, samplesPerPixel = 0, planar = 0, bitsPerSample = 0,
           resolutionUnit = 0;
  float xResolution = 0, yResolution = 0;
  std::vector<std::vector<BYTE>> rows;  // decoded scanlines
};
// All directories of the TIFF file at the Windows path; rows are decoded when
// readRows is set. Adds a failure when the file does not read.
std::vector<TiffPage> ReadTiff(const std::string& windowsPath, bool readRows = true);

}  // namespace pagetrap::test
