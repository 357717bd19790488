#include "tests/support/SocksServer.h"

#include <string>
#include <vector>

namespace testsupport {

SocksServer::SocksServer(bool requireLogin) {
  OpenWayTo(dir_.Path());
  // The port is only known when the server is started, so the config is finished then. danted
  // runs in the foreground and logs to standard error, which the launcher keeps.
  const std::string conf = std::string("logoutput: stderr\n") +
                           "internal: 127.0.0.1 port = PORT\n"
                           "external: 127.0.0.1\n"
                           "clientmethod: none\n"
                           "socksmethod: " +
                           (requireLogin ? "username" : "none") +
                           "\n"
                           "user.privileged: root\n"
                           "user.unprivileged: nobody\n"
                           "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                           "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n";
  WriteText(dir_.Path() / "danted.conf.in", conf);
  const std::string in = (dir_.Path() / "danted.conf.in").string();
  const std::string run = (dir_.Path() / "danted.conf").string();
  process_ = std::make_unique<ServerProcess>(std::vector<std::string>{
      "/bin/sh", "-c",
      "sed 's/= PORT$/= {port}/' '" + in + "' > '" + run + "' && exec danted -f '" + run + "'"});
}

SocksServer::~SocksServer() {
  if (process_) process_->Stop();
}

TestProxies& SharedProxies() {
  static TestProxies proxies;
  return proxies;
}

}  // namespace testsupport
