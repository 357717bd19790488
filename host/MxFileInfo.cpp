#include "host/MxFileInfo.h"

#include <fcntl.h>
#include <libdeflate.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "rtl/Exception.h"
#include "rtl/UniqueFd.h"

namespace host {

namespace {

// Large enough that the per-call costs vanish, small enough to stay in L2/L3 between the copy
// out of the page cache and the CRC pass (measured in bench/FileCrcBench.cpp).
constexpr std::size_t k_crc_buffer_size = std::size_t{1} << 20;



}  // namespace

std::string TFileInfo::GetFileCRC(const std::string& path) {
  auto fail = [&](int err) {
    return rtl::Exception("Cannot read file \"" + path + "\" to compute its CRC: " + rtl::SysErrorMessage(err));
  };
  rtl::TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) throw fail(errno);
  ::posix_fadvise(fd.Get(), 0, 0, POSIX_FADV_SEQUENTIAL);

  auto buffer = std::make_unique_for_overwrite<unsigned char[]>(k_crc_buffer_size);
  std::uint32_t crc = 0;
  for (;;) {
    ssize_t n = ::read(fd.Get(), buffer.get(), k_crc_buffer_size);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw fail(errno);
    }
    if (n == 0) break;
    crc = libdeflate_crc32(crc, buffer.get(), static_cast<std::size_t>(n));
  }
  return std::to_string(crc);
}

std::string TFileInfo::GetTemporaryFileName(const std::string& prefix) {
  if (prefix.find('/') != std::string::npos)
    throw rtl::Exception("Invalid temporary file prefix \"" + prefix + "\": it must not contain '/'");
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = (tmp && *tmp) ? tmp : "/tmp";
  if (dir.back() != '/') dir += '/';
  std::string name = dir + prefix + "XXXXXX";
  std::vector<char> buf(name.begin(), name.end());
  buf.push_back('\0');
  int fd = ::mkstemp(buf.data());
  if (fd < 0) {
    int err = errno;
    throw rtl::Exception("Cannot create a temporary file in \"" + dir + "\": " + rtl::SysErrorMessage(err));
  }
  ::close(fd);
  return std::string(buf.data());
}

std::string TFileInfo::HomeDirectory() {
  if (const char* h = std::getenv("HOME"); h && *h) return h;
  std::vector<char> buf(16384);
  passwd pw{};
  passwd* result = nullptr;
  if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result && result->pw_dir)
    return result->pw_dir;
  throw rtl::Exception("Cannot find the home directory for the configuration files");
}

std::string TFileInfo::ConfigDirectory() {
  // A relative XDG_CONFIG_HOME is invalid by its own rules and is ignored.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return std::string(xdg) + "/quillon";
  return HomeDirectory() + "/.config/quillon";
}

void TFileInfo::ForceDirectories(const std::string& dir) {
  namespace fs = std::filesystem;
  fs::path partial;
  for (const auto& part : fs::path(dir).lexically_normal()) {
    partial /= part;
    if (part.empty() || part == "/") continue;
    if (::mkdir(partial.c_str(), 0700) == 0) continue;
    int err = errno;
    struct stat st {};
    if (err == EEXIST && ::stat(partial.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
    throw rtl::Exception("Cannot create directory \"" + partial.string() + "\": " + rtl::SysErrorMessage(err));
  }
}

void TFileInfo::WriteFileAtomic(const std::string& path, std::string_view data, const std::string& what) {
  auto fail = [&](const std::string& why) {
    return rtl::Exception("Cannot save " + what + " \"" + path + "\": " + why);
  };
  const std::string dir = std::filesystem::path(path).parent_path().string();
  if (!dir.empty()) ForceDirectories(dir);

  std::string tmpl = path + ".XXXXXX";
  std::vector<char> tmp(tmpl.begin(), tmpl.end());
  tmp.push_back('\0');
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) throw fail(rtl::SysErrorMessage(errno));
  std::size_t done = 0;
  int err = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : EIO;
      break;
    }
    done += static_cast<std::size_t>(n);
  }
  if (err == 0 && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && ::rename(tmp.data(), path.c_str()) != 0) err = errno;
  if (err != 0) {
    ::unlink(tmp.data());
    throw fail(rtl::SysErrorMessage(err));
  }
}

}  // namespace host
