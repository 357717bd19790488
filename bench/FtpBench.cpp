// One FTP transfer through TIdFTP, for bench/ftp.sh: log in, download or upload one file
// (binary, passive unless --active), optionally throttled through the data-channel hook as
// the upload action does. Prints one line the script reads:
//   bytes=N seconds=S mbps=R
// where seconds cover the transfer command alone (login excluded).
//
//   FtpBench [--active] [--throttle BYTES_PER_SEC] get|put HOST PORT USER PASSWORD REMOTE LOCAL
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "inet/IdFTP.h"
#include "inet/IdIntercept.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: FtpBench [--active] [--throttle BYTES_PER_SEC] get|put HOST PORT USER PASSWORD REMOTE "
               "LOCAL\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool active = false;
  std::int64_t throttle = 0;
  std::vector<std::string> rest;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--active") {
      active = true;
    } else if (a == "--throttle" && i + 1 < argc) {
      throttle = std::atoll(argv[++i]);
    } else {
      rest.push_back(a);
    }
  }
  if (rest.size() != 7 || (rest[0] != "get" && rest[0] != "put")) return Usage();

  try {
    inet::TIdFTP ftp;
    ftp.Host = rest[1];
    ftp.Port = std::atoi(rest[2].c_str());
    ftp.Username = rest[3];
    ftp.Password = rest[4];
    ftp.Passive = !active;
    ftp.TransferType = inet::ftBinary;
    if (throttle > 0) {
      ftp.OnDataChannelCreate = [throttle](inet::TIdIOHandlerSocket& data) {
        data.AddIntercept(std::make_shared<inet::TIdInterceptThrottler>(throttle * 8));
      };
    }
    std::int64_t bytes = 0;
    ftp.Work.OnWork = [&](inet::TWorkMode, std::int64_t count) { bytes = count; };
    ftp.Connect();

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    if (rest[0] == "get") {
      ftp.Get(rest[5], rest[6], true);
    } else {
      ftp.Put(rest[6], rest[5]);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    ftp.Disconnect();
    std::printf("bytes=%lld seconds=%.3f mbps=%.2f\n", static_cast<long long>(bytes), seconds,
                static_cast<double>(bytes) / seconds / 1e6);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "FtpBench: %s\n", e.what());
    return 1;
  }
}
