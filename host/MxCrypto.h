#pragma once
// Reversible encryption of stored passwords (project files, option store). AES-256-GCM with a
// key derived from a per-user key file; a key text (such as an action class's password key)
// separates the values of one user from each other.
#include <string>

#include "rtl/Exception.h"

namespace host {

class ECryptoError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

class TCryptoUtils {
 public:
  // "q1:" + Base64(nonce | ciphertext | tag); an empty text stays empty and needs no key file.
  static std::string EncryptString(const std::string& plain, const std::string& keyText = {});
  // Throws ECryptoError when the value is damaged or was written with another key or key text.
  static std::string DecryptString(const std::string& stored, const std::string& keyText = {});

  // Overrides the key file location (the runner's --key-file); an empty path restores the
  // default lookup (QUILLON_KEY_FILE, then the user's configuration directory).
  static void SetKeyFile(const std::string& path);
  static std::string KeyFilePath();
};

}  // namespace host
