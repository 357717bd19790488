#pragma once
// Process-wide TLS verification settings that the runner takes from its command line
// (--ca-file, --insecure-tls) and every TLS connection of the internet components reads.
#include <mutex>
#include <string>

namespace rtl {

struct TTlsSettings {
  std::string CaFile;     // an extra trust anchor file; empty: the system's trust store only
  bool Insecure = false;  // do not verify server certificates (private test servers)
};

inline TTlsSettings& GlobalTlsSettingsStorage() {
  static TTlsSettings settings;
  return settings;
}
inline std::mutex& GlobalTlsSettingsMutex() {
  static std::mutex mu;
  return mu;
}
inline TTlsSettings GetTlsSettings() {
  std::lock_guard lock(GlobalTlsSettingsMutex());
  return GlobalTlsSettingsStorage();
}
inline void SetTlsSettings(const TTlsSettings& s) {
  std::lock_guard lock(GlobalTlsSettingsMutex());
  GlobalTlsSettingsStorage() = s;
}

}  // namespace rtl
