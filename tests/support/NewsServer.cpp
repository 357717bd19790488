#include "tests/support/NewsServer.h"

#include <sstream>
#include <stdexcept>
#include <thread>


namespace testsupport {

namespace {

bool Listening(int port) {
  const std::string probe = "exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(port);
  return RunProgram({"bash", "-c", probe}) == 0;
}

}  // namespace

NewsServer::NewsServer(Mode mode, bool withTLS) : mode_(mode) {
  const char* modeName = mode == Mode::Open ? "open" : mode == Mode::Auth ? "auth" : "read";
  std::vector<std::string> argv{"bash", (SourceDir() / "tests/servers/nntp-inn.sh").string(),
                                (dir_.Path() / "inn").string(), "{port}", modeName};
  if (withTLS) {
    const auto& certs = GetTestCertificates();
    tlsPort_ = FreePort();
    argv.insert(argv.end(), {certs.serverCert.string(), certs.serverKey.string(), std::to_string(tlsPort_)});
  }
  ServerProcess::Options o;
  o.workDir = dir_.Path();
  process_ = std::make_unique<ServerProcess>(argv, o);
  if (withTLS) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!Listening(tlsPort_)) {
      if (std::chrono::steady_clock::now() > deadline)
        throw std::runtime_error("the NNTPS reader did not start: " + process_->Output());
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
}

std::vector<std::string> NewsServer::Articles(const std::string& group) const {
  std::vector<std::string> argv{"/usr/bin/python3", (SourceDir() / "tests/servers/nntp_articles.py").string(),
                                std::to_string(Port()), group};
  if (mode_ == Mode::Auth) argv.insert(argv.end(), {k_user, k_password});
  std::string output;
  if (RunProgram(argv, &output) != 0) throw std::runtime_error("reading " + group + " failed: " + output);
  std::vector<std::string> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace testsupport
