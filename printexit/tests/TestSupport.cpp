#include "TestSupport.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <algorithm>
#include <ostream>
#include <set>
#include <type_traits>

namespace pagetrap::test {

const Exits& Pagetrap() {
  static const Exits exits = [] {
    Exits loaded;
    // Loaded by path, as the printer driver loads its exit module.
    const HMODULE module = LoadLibraryA(DosPath(PAGETRAP_DLL).c_str());
    if (!module) return loaded;
    auto find = [module](const char* name, auto& function) {
      function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
          reinterpret_cast<void*>(GetProcAddress(module, name)));
    };
    find("startDocExit", loaded.startDoc);
    find("startPageExit", loaded.startPage);
    find("endPageExit", loaded.endPage);
    find("endDocExit", loaded.endDoc);
    return loaded;
  }();
  return exits;
}

std::string CaptureFile() {
  char folder[MAX_PATH] = {};
  GetSystemDirectoryA(folder, sizeof folder);
  return std::string(folder) + "\\NEDIP.TIF";
}

std::string AppDataFolder() {
  char folder[MAX_PATH] = {};
  SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder);
  return folder;
}

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeFolders(const std::string& path) {
  for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
    CreateDirectoryA(path.substr(0, at).c_str(), nullptr);
  CreateDirectoryA(path.c_str(), nullptr);
}

std::string MakeModuleFolder(const std::string& folder, Converter converter, bool uploader) {
  static std::set<std::string> made;
  if (!made.insert(folder).second) return folder;
  MakeFolders(folder);
  const std::string library = folder + "\\verywrite.dll";
  DeleteFileA(library.c_str());
  if (converter != Converter::kNone) {
    const char* source =
        converter == Converter::kComplete ? FAKE_VERYWRITE : FAKE_VERYWRITE_PARTIAL;
    CopyFileA(DosPath(source).c_str(), library.c_str(), FALSE);
  }
  const std::string program = folder + "\\ZentrafoldUpload.exe";
  DeleteFileA(program.c_str());
  if (uploader) CopyFileA(DosPath(FAKE_UPLOAD).c_str(), program.c_str(), FALSE);
  return folder;
}

std::ostream& operator<<(std::ostream& out, const Message& message) {
  return out << "{caption \"" << message.caption << "\", text \"" << message.text << "\"}";
}

MessageBoxAnswerer::MessageBoxAnswerer()
    : ownerThread_(GetCurrentThreadId()), stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
  InitializeCriticalSection(&lock_);
  thread_.reset(CreateThread(nullptr, 0, Watch, this, 0, nullptr));
}

MessageBoxAnswerer::~MessageBoxAnswerer() {
  SetEvent(stop_.get());
  WaitForSingleObject(thread_.get(), INFINITE);
  DeleteCriticalSection(&lock_);
}

std::vector<Message> MessageBoxAnswerer::Take() {
  EnterCriticalSection(&lock_);
  std::vector<Message> taken;
  taken.swap(seen_);
  LeaveCriticalSection(&lock_);
  return taken;
}

DWORD WINAPI MessageBoxAnswerer::Watch(void* self) {
  auto* answerer = static_cast<MessageBoxAnswerer*>(self);
  while (WaitForSingleObject(answerer->stop_.get(), 20) == WAIT_TIMEOUT)
    EnumWindows(Visit, reinterpret_cast<LPARAM>(answerer));
  return 0;
}

BOOL CALLBACK MessageBoxAnswerer::Visit(HWND window, LPARAM self) {
  auto* answerer = reinterpret_cast<MessageBoxAnswerer*>(self);
  char className[32] = {};
  GetClassNameA(window, className, sizeof className);
  if (std::string(className) != "#32770" || !IsWindowVisible(window) ||
      GetWindowThreadProcessId(window, nullptr) != answerer->ownerThread_)
    return TRUE;
  EnterCriticalSection(&answerer->lock_);
  const bool known = std::find(answerer->answered_.begin(), answerer->answered_.end(), window) !=
                     answerer->answered_.end();
  if (!known) {
    char caption[256] = {};
    char text[1024] = {};
    GetWindowTextA(window, caption, sizeof caption);
    GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
    answerer->answered_.push_back(window);
    answerer->seen_.push_back({caption, text});
  }
  LeaveCriticalSection(&answerer->lock_);
  PostMessageA(window, WM_COMMAND, IDOK, 0);
  return TRUE;
}

GuardedBand::GuardedBand(size_t size) : size_(size) {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const size_t page = system.dwPageSize;
  const size_t usable = (size + page - 1) / page * page;
  base_ = VirtualAlloc(nullptr, usable + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (!base_) return;
  DWORD old = 0;
  VirtualProtect(static_cast<BYTE*>(base_) + usable, page, PAGE_NOACCESS, &old);
  data_ = static_cast<BYTE*>(base_) + usable - size;
}

GuardedBand::~GuardedBand() {
  if (base_) VirtualFree(base_, 0, MEM_RELEASE);
}

NewDocumentsRemoved::NewDocumentsRemoved() : before_(Documents()) {}

NewDocumentsRemoved::~NewDocumentsRemoved() {
  for (const auto& document : Documents())
    if (std::find(before_.begin(), before_.end(), document) == before_.end())
      DeleteFileA(document.c_str());
}

std::vector<std::string> NewDocumentsRemoved::Documents() {
  std::vector<std::string> found;
  const std::string folder = AppDataFolder() + "\\Zentrafold\\";
  WIN32_FIND_DATAA entry;
  HANDLE search = FindFirstFileA((folder + "*.pdf").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return found;
  for (BOOL more = TRUE; more; more = FindNextFileA(search, &entry))
    found.push_back(folder + entry.cFileName);
  FindClose(search);
  return found;
}

SavedValue::SavedValue(HKEY root, const char* key, const char* name)
    : root_(root), key_(key), name_(name) {
  zf::UniqueHKey opened;
  if (RegOpenKeyExA(root_, key, 0, KEY_READ, opened.put()) != ERROR_SUCCESS) return;
  DWORD size = 0;
  if (RegQueryValueExA(opened.get(), name, nullptr, &type_, nullptr, &size) != ERROR_SUCCESS)
    return;
  data_.resize(size);
  existed_ =
      RegQueryValueExA(opened.get(), name, nullptr, &type_, data_.data(), &size) == ERROR_SUCCESS;
}

SavedValue::~SavedValue() {
  zf::UniqueHKey opened;
  if (RegCreateKeyExA(root_, key_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, opened.put(),
                      nullptr) != ERROR_SUCCESS)
    return;
  if (existed_)
    RegSetValueExA(opened.get(), name_.c_str(), 0, type_, data_.data(),
                   static_cast<DWORD>(data_.size()));
  else
    RegDeleteValueA(opened.get(), name_.c_str());
}

LSTATUS SetSetting(const char* name, const std::string& value) {
  zf::UniqueHKey key;
  const LSTATUS status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, nullptr, 0,
                                         KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
  if (status != ERROR_SUCCESS) return status;
  return RegSetValueExA(key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                        static_cast<DWORD>(value.size() + 1));
}

void DeleteSetting(const char* name) {
  zf::UniqueHKey key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_ALL_ACCESS, key.put()) ==
      ERROR_SUCCESS)
    RegDeleteValueA(key.get(), name);
}

bool HasSetting(const char* name) {
  zf::UniqueHKey key;
  return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, key.put()) == ERROR_SUCCESS &&
         RegQueryValueExA(key.get(), name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::vector<TiffPage> ReadTiff(const std::string& windowsPath, bool readRows) {
  std::vector<TiffPage> pages;
  TIFF* in = TIFFOpen(UnixPath(windowsPath).c_str(), "r");
  if (!in) {
    ADD_FAILURE() << "libtiff cannot read " << windowsPath;
    return pages;
  }
  do {
    TiffPage page;
    TIFFGetField(in, TIFFTAG_IMAGEWIDTH, &page.width);
    TIFFGetField(in, TIFFTAG_IMAGELENGTH, &page.length);
    TIFFGetField(in, TIFFTAG_ROWSPERSTRIP, &page.rowsPerStrip);
    TIFFGetField(in, TIFFTAG_COMPRESSION, &page.compression);
    TIFFGetField(in, TIFFTAG_PHOTOMETRIC, &page.photometric);
    TIFFGetField(in, TIFFTAG_SAMPLESPERPIXEL, &page.samplesPerPixel);
    TIFFGetField(in, TIFFTAG_PLANARCONFIG, &page.planar);
    TIFFGetField(in, TIFFTAG_BITSPERSAMPLE, &page.bitsPerSample);
    TIFFGetField(in, TIFFTAG_RESOLUTIONUNIT, &page.resolutionUnit);
    TIFFGetField(in, TIFFTAG_XRESOLUTION, &page.xResolution);
    TIFFGetField(in, TIFFTAG_YRESOLUTION, &page.yResolution);
    if (readRows) {
      const tmsize_t size = TIFFScanlineSize(in);
      for (uint32_t row = 0; row < page.length && size > 0; ++row) {
        std::vector<BYTE> line(static_cast<size_t>(size));
        if (TIFFReadScanline(in, line.data(), row, 0) < 0) {
          ADD_FAILURE() << "row " << row << " of directory " << pages.size() << " does not read";
          break;
        }
        page.rows.push_back(std::move(line));
      }
    }
    pages.push_back(std::move(page));
  } while (TIFFReadDirectory(in));
  TIFFClose(in);
  return pages;
}

}  // namespace pagetrap::test
