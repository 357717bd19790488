#pragma once
// The key for stored passwords in fuzzed input: a fixed key in a private file of this process,
// so a run never creates or reads the user's own key, and the seeds' stored passwords (written
// with the same key by fuzz/make-corpus.py) decrypt in every run alike.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "host/MxCrypto.h"

namespace fuzz {

inline void UseFixedKeyFile() {
  static const std::string path = "/tmp/quillon-fuzz-key-" + std::to_string(::getpid());
  ::unlink(path.c_str());
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) std::abort();
  char key[32];
  for (int i = 0; i < 32; ++i) key[i] = static_cast<char>(i);  // the key make-corpus.py writes
  if (::write(fd, key, sizeof key) != static_cast<ssize_t>(sizeof key)) std::abort();
  ::close(fd);
  host::TCryptoUtils::SetKeyFile(path);
  std::atexit([] { ::unlink(path.c_str()); });
}

}  // namespace fuzz
