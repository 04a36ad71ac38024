#include "GhostscriptRaster.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "RowLayout.h"

extern char** environ;

namespace zf::printer {
namespace {

const char kGhostscript[] = "/usr/bin/gs";
// Refuses pages no printer would send, before allocating for them.
const int kMaxPageSide = 100000;
// Enough of gs's messages to find the first error line.
const std::size_t kErrorTextBytes = 16384;
const std::size_t kErrorLineChars = 200;

}  // namespace

std::string DocumentProblem(const std::string& document) {
  struct stat info = {};
  if (stat(document.c_str(), &info) != 0) return std::strerror(errno);
  if (S_ISDIR(info.st_mode)) return "it is a folder";
  const int fd = open(document.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  close(fd);
  return {};
}

GhostscriptRaster::~GhostscriptRaster() { Stop(); }

bool GhostscriptRaster::Start(const std::string& document, int xDpi, int yDpi, int type) {
  type_ = type;
  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return Fail("cannot make a pipe");
  errorsFd_ = memfd_create("gs-errors", MFD_CLOEXEC);
  if (errorsFd_ < 0) {
    close(pipeFds[0]);
    close(pipeFds[1]);
    return Fail("cannot make a file for Ghostscript's messages");
  }

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errorsFd_, STDERR_FILENO);

  const std::string device = type == kRasterMono ? "-sDEVICE=pbmraw" : "-sDEVICE=ppmraw";
  const std::string resolution = "-r" + std::to_string(xDpi) + "x" + std::to_string(yDpi);
  // -sstdout keeps a PostScript program's own output out of the image stream.
  std::vector<std::string> args = {kGhostscript, "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE",
                                   "-sstdout=%stderr", device, resolution,
                                   "-sOutputFile=-", "--", document};
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, kGhostscript, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (spawned != 0) {
    close(pipeFds[0]);
    return Fail(std::string("cannot start ") + kGhostscript + ": " + std::strerror(spawned));
  }
  pid_ = pid;
  fd_ = pipeFds[0];
  buffer_.resize(1 << 16);
  return true;
}

bool GhostscriptRaster::NextPage(int& pageWidth, int& pageHeight) {
  if (fd_ < 0) return false;
  if (rowsLeft_ > 0) return Fail("page read only in part");
  int c = 0;
  if (!ReadByte(c)) return false;  // end of the document
  int kind = 0;
  if (c != 'P' || !ReadByte(kind)) return Fail("not a PNM stream");
  const int expected = type_ == kRasterMono ? '4' : '6';
  if (kind != expected) return Fail("unexpected PNM kind");
  int width = 0, height = 0, maxValue = 255;
  if (!ReadNumber(width) || !ReadNumber(height)) return Fail("bad PNM header");
  if (type_ == kRasterRgb && !ReadNumber(maxValue)) return Fail("bad PNM header");
  if (width <= 0 || height <= 0 || width > kMaxPageSide || height > kMaxPageSide ||
      maxValue != 255) {
    return Fail("page size out of range");
  }
  // One whitespace byte ends the header; ReadNumber has eaten it.
  width_ = width;
  rowsLeft_ = height;
  row_.assign(PnmRowBytes(type_, width), 0);
  pageWidth = width;
  pageHeight = height;
  return true;
}

bool GhostscriptRaster::ReadRows(unsigned char* out, int rows) {
  if (rows > rowsLeft_) return Fail("more rows asked for than the page has");
  const std::size_t stride = BandStride(type_, DeliveredWidth(type_, width_));
  for (int r = 0; r < rows; ++r) {
    if (!ReadExact(row_.data(), row_.size())) {
      // gs stopped within the page: its own message says why.
      if (error_.empty() && Finish()) Fail("page image cut short");
      return false;
    }
    unsigned char* target = out + static_cast<std::size_t>(r) * stride;
    if (type_ == kRasterMono) {
      ConvertPbmRow(row_.data(), width_, target);
    } else {
      ConvertPpmRow(row_.data(), width_, target);
    }
  }
  rowsLeft_ -= rows;
  return true;
}

bool GhostscriptRaster::Finish() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (pid_ < 0) return error_.empty();
  int status = 0;
  pid_t waited;
  do {
    waited = waitpid(pid_, &status, 0);
  } while (waited < 0 && errno == EINTR);
  pid_ = -1;
  if (waited < 0) return Fail("cannot wait for gs");
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    const std::string said = GhostscriptError();
    return Fail(said.empty() ? "Ghostscript failed (wait status " + std::to_string(status) + ")"
                             : said);
  }
  return error_.empty();
}

// The first line of gs's messages that names an error, else its first line.
std::string GhostscriptRaster::GhostscriptError() const {
  std::string text(kErrorTextBytes, '\0');
  const ssize_t got = pread(errorsFd_, text.data(), text.size(), 0);
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  std::string first;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    const std::size_t begin = line.find_first_not_of(" \t*");
    if (begin == std::string::npos) continue;
    line = line.substr(begin, kErrorLineChars);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.find("Error") != std::string::npos) return line;
    if (first.empty()) first = line;
  }
  return first;
}

bool GhostscriptRaster::Fill() {
  start_ = 0;
  end_ = 0;
  for (;;) {
    const ssize_t got = read(fd_, buffer_.data(), buffer_.size());
    if (got > 0) {
      end_ = static_cast<std::size_t>(got);
      return true;
    }
    if (got == 0) return false;
    if (errno != EINTR) return Fail(std::string("read: ") + std::strerror(errno));
  }
}

bool GhostscriptRaster::ReadByte(int& c) {
  if (start_ == end_ && !Fill()) return false;
  c = buffer_[start_++];
  return true;
}

bool GhostscriptRaster::ReadNumber(int& value) {
  int c = 0;
  for (;;) {  // whitespace and comments before the number
    if (!ReadByte(c)) return false;
    if (c == '#') {
      while (c != '\n') {
        if (!ReadByte(c)) return false;
      }
    } else if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
      break;
    }
  }
  if (c < '0' || c > '9') return false;
  long long number = 0;
  while (c >= '0' && c <= '9') {
    number = number * 10 + (c - '0');
    if (number > kMaxPageSide) return false;
    if (!ReadByte(c)) return false;
  }
  value = static_cast<int>(number);
  return true;  // the byte after the digits (one whitespace) is consumed
}

bool GhostscriptRaster::ReadExact(unsigned char* out, std::size_t bytes) {
  while (bytes > 0) {
    if (start_ == end_ && !Fill()) return false;
    const std::size_t take = std::min(bytes, end_ - start_);
    std::memcpy(out, buffer_.data() + start_, take);
    start_ += take;
    out += take;
    bytes -= take;
  }
  return true;
}

bool GhostscriptRaster::Fail(const std::string& message) {
  if (error_.empty()) error_ = message;
  return false;
}

void GhostscriptRaster::Stop() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  if (errorsFd_ >= 0) {
    close(errorsFd_);
    errorsFd_ = -1;
  }
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
  }
}

}  // namespace zf::printer
