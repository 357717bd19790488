#include "host/MxCrypto.h"

#include <fcntl.h>
#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "host/MxFileInfo.h"
#include "rtl/Base64.h"
#include "rtl/UniqueFd.h"

namespace host {

namespace {

constexpr std::string_view k_prefix = "q1:";
constexpr std::string_view k_info = "quillon string v1";
constexpr std::size_t k_key_size = 32;
constexpr std::size_t k_nonce_size = 12;
constexpr std::size_t k_tag_size = 16;
constexpr const char* k_damaged =
    "Cannot decrypt stored password: the value is damaged or was written with another key";

using TKey = std::array<unsigned char, k_key_size>;

// Wipes key material when it goes out of scope.
struct TSecretKey {
  TKey Bytes{};
  ~TSecretKey() { OPENSSL_cleanse(Bytes.data(), Bytes.size()); }
};

struct TCipherCtxDeleter {
  void operator()(EVP_CIPHER_CTX* c) const { EVP_CIPHER_CTX_free(c); }
};
using TCipherCtx = std::unique_ptr<EVP_CIPHER_CTX, TCipherCtxDeleter>;

// --- Key file ---

std::mutex g_mutex;
std::string g_keyFileOverride;  // guarded by g_mutex
std::string g_cachedPath;       // guarded by g_mutex
std::optional<TSecretKey> g_cachedKey;

std::string ResolveKeyFilePath() {
  if (!g_keyFileOverride.empty()) return g_keyFileOverride;
  if (const char* env = std::getenv("QUILLON_KEY_FILE"); env && *env) return env;
  return TFileInfo::ConfigDirectory() + "/key";
}

// Reads an existing key file; false when it does not exist.
bool ReadKeyFile(const std::string& path, TKey& key) {
  rtl::TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
  if (fd.Get() < 0) {
    if (errno == ENOENT) return false;
    int err = errno;
    throw ECryptoError("Cannot open the key file \"" + path + "\": " + rtl::SysErrorMessage(err));
  }
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode))
    throw ECryptoError("The key file \"" + path + "\" is not a regular file");
  if (st.st_mode & (S_IRWXG | S_IRWXO))
    throw ECryptoError("The key file \"" + path +
                       "\" is accessible by other users; make it private (chmod 600) or remove it");
  if (st.st_size != static_cast<off_t>(k_key_size))
    throw ECryptoError("The key file \"" + path + "\" is damaged: it must hold exactly 32 bytes");
  std::size_t got = 0;
  while (got < key.size()) {
    ssize_t n = ::read(fd.Get(), key.data() + got, key.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw ECryptoError("Cannot read the key file \"" + path + "\"");
    got += static_cast<std::size_t>(n);
  }
  return true;
}

// Creates the key file with a fresh random key. The key is written to a private temporary file
// and then linked into place, which fails if the name exists: concurrent first uses never
// produce two keys and no reader ever sees a half-written file.
void CreateKeyFile(const std::string& path) {
  namespace fs = std::filesystem;
  std::string dir = fs::path(path).parent_path().string();
  if (!dir.empty()) TFileInfo::ForceDirectories(dir);

  TSecretKey fresh;
  if (RAND_bytes(fresh.Bytes.data(), static_cast<int>(fresh.Bytes.size())) != 1)
    throw ECryptoError("Cannot generate a new encryption key");

  std::string tmpl = (dir.empty() ? std::string(".") : dir) + "/.key-XXXXXX";
  std::vector<char> tmp(tmpl.begin(), tmpl.end());
  tmp.push_back('\0');
  int raw = ::mkstemp(tmp.data());  // mode 0600
  if (raw < 0) {
    int err = errno;
    throw ECryptoError("Cannot create the key file \"" + path + "\": " + rtl::SysErrorMessage(err));
  }
  rtl::TUniqueFd fd(raw);
  auto cleanup = [&] { ::unlink(tmp.data()); };
  if (::write(fd.Get(), fresh.Bytes.data(), fresh.Bytes.size()) != static_cast<ssize_t>(fresh.Bytes.size()) ||
      ::fsync(fd.Get()) != 0) {
    int err = errno;
    cleanup();
    throw ECryptoError("Cannot write the key file \"" + path + "\": " + rtl::SysErrorMessage(err));
  }
  int rc = ::link(tmp.data(), path.c_str());
  int err = errno;
  cleanup();
  if (rc != 0 && (err == EPERM || err == EOPNOTSUPP || err == ENOSYS)) {
    // File systems without hard links: exclusive creation still keeps a single key.
    rtl::TUniqueFd direct(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    rc = direct.Get() < 0 ? -1 : 0;
    err = errno;
    if (rc == 0 && (::write(direct.Get(), fresh.Bytes.data(), fresh.Bytes.size()) !=
                        static_cast<ssize_t>(fresh.Bytes.size()) ||
                    ::fsync(direct.Get()) != 0)) {
      err = errno;
      rc = -1;
      ::unlink(path.c_str());
    }
  }
  if (rc != 0 && err != EEXIST)
    throw ECryptoError("Cannot create the key file \"" + path + "\": " + rtl::SysErrorMessage(err));
  // On EEXIST another process created it first: its key is the one to use.
}

// The file key, loaded (or created) once per key file path.
TKey LoadKey() {
  std::lock_guard lock(g_mutex);
  std::string path = ResolveKeyFilePath();
  if (g_cachedKey && g_cachedPath == path) return g_cachedKey->Bytes;
  TSecretKey key;
  if (!ReadKeyFile(path, key.Bytes)) {
    CreateKeyFile(path);
    if (!ReadKeyFile(path, key.Bytes))
      throw ECryptoError("The key file \"" + path + "\" vanished while it was being created");
  }
  g_cachedKey.emplace();
  g_cachedKey->Bytes = key.Bytes;
  g_cachedPath = path;
  return key.Bytes;
}

// HKDF-SHA256 of the file key with the key text in the info, so values written for one key
// text cannot be read with another.
void DeriveKey(const std::string& keyText, TKey& out) {
  TSecretKey fileKey;
  fileKey.Bytes = LoadKey();
  std::string info(k_info);
  info += keyText;

  EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
  if (!kdf) throw ECryptoError("The HKDF key derivation is not available");
  EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
  EVP_KDF_free(kdf);
  if (!ctx) throw ECryptoError("The HKDF key derivation is not available");
  std::unique_ptr<EVP_KDF_CTX, void (*)(EVP_KDF_CTX*)> guard(ctx, EVP_KDF_CTX_free);

  char digest[] = "SHA256";
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, fileKey.Bytes.data(), fileKey.Bytes.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, info.data(), info.size()),
      OSSL_PARAM_construct_end(),
  };
  if (EVP_KDF_derive(ctx, out.data(), out.size(), params) != 1)
    throw ECryptoError("Cannot derive the encryption key");
}

}  // namespace

std::string TCryptoUtils::EncryptString(const std::string& plain, const std::string& keyText) {
  if (plain.empty()) return {};
  TSecretKey key;
  DeriveKey(keyText, key.Bytes);

  std::vector<unsigned char> out(k_nonce_size + plain.size() + k_tag_size);
  unsigned char* nonce = out.data();
  unsigned char* cipher = nonce + k_nonce_size;
  unsigned char* tag = cipher + plain.size();
  if (RAND_bytes(nonce, static_cast<int>(k_nonce_size)) != 1)
    throw ECryptoError("Cannot generate a random nonce");

  TCipherCtx ctx(EVP_CIPHER_CTX_new());
  int len = 0;
  if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.Bytes.data(), nonce) != 1 ||
      EVP_EncryptUpdate(ctx.get(), cipher, &len, reinterpret_cast<const unsigned char*>(plain.data()),
                        static_cast<int>(plain.size())) != 1 ||
      EVP_EncryptFinal_ex(ctx.get(), cipher + len, &len) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(k_tag_size), tag) != 1)
    throw ECryptoError("Cannot encrypt the password");
  return std::string(k_prefix) +
         rtl::Base64Encode(std::string_view(reinterpret_cast<const char*>(out.data()), out.size()));
}

std::string TCryptoUtils::DecryptString(const std::string& stored, const std::string& keyText) {
  if (stored.empty()) return {};
  if (stored.compare(0, k_prefix.size(), k_prefix) != 0) throw ECryptoError(k_damaged);
  // Strict decoding: a damaged value never decodes to something else.
  auto raw = rtl::Base64DecodeStrict(std::string_view(stored).substr(k_prefix.size()));
  if (!raw || raw->size() < k_nonce_size + k_tag_size) throw ECryptoError(k_damaged);

  TSecretKey key;
  DeriveKey(keyText, key.Bytes);
  const auto* nonce = reinterpret_cast<const unsigned char*>(raw->data());
  const unsigned char* cipher = nonce + k_nonce_size;
  const std::size_t cipherLen = raw->size() - k_nonce_size - k_tag_size;
  auto* tag = reinterpret_cast<unsigned char*>(raw->data()) + k_nonce_size + cipherLen;

  std::string plain(cipherLen, '\0');
  auto* plainBytes = reinterpret_cast<unsigned char*>(plain.data());
  TCipherCtx ctx(EVP_CIPHER_CTX_new());
  int len = 0;
  if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, key.Bytes.data(), nonce) != 1 ||
      EVP_DecryptUpdate(ctx.get(), plainBytes, &len, cipher, static_cast<int>(cipherLen)) != 1 ||
      EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(k_tag_size), tag) != 1 ||
      EVP_DecryptFinal_ex(ctx.get(), plainBytes + len, &len) != 1) {
    OPENSSL_cleanse(plain.data(), plain.size());
    throw ECryptoError(k_damaged);
  }
  return plain;
}

void TCryptoUtils::SetKeyFile(const std::string& path) {
  std::lock_guard lock(g_mutex);
  g_keyFileOverride = path;
}

std::string TCryptoUtils::KeyFilePath() {
  std::lock_guard lock(g_mutex);
  return ResolveKeyFilePath();
}

}  // namespace host
