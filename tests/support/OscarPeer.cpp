#include "tests/support/OscarPeer.h"

#include <algorithm>
#include <sstream>
#include <thread>

namespace testsupport {

OscarPeer::OscarPeer(std::vector<std::string> args) {
  std::vector<std::string> argv{"/usr/bin/python3",
                                (SourceDir() / "tests/servers/oscar_peer.py").string(),
                                "--port",
                                "{port}",
                                "--log",
                                (dir_.Path() / "peer.log").string(),
                                "--password",
                                k_password};
  argv.insert(argv.end(), args.begin(), args.end());
  ServerProcess::Options o;
  o.env = {{"PYTHONDONTWRITEBYTECODE", "1"}};
  process_ = std::make_unique<ServerProcess>(argv, o);
}

OscarPeer::~OscarPeer() = default;

std::vector<std::string> OscarPeer::Events() const {
  std::vector<std::string> out;
  std::istringstream in(ReadText(dir_.Path() / "peer.log"));
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) out.push_back(line);
  return out;
}

std::vector<std::string> OscarPeer::Find(const std::vector<std::string>& fragments) const {
  std::vector<std::string> out;
  for (const auto& line : Events())
    if (std::all_of(fragments.begin(), fragments.end(),
                    [&](const auto& f) { return line.find(f) != std::string::npos; }))
      out.push_back(line);
  return out;
}

bool OscarPeer::WaitFor(const std::vector<std::string>& fragments, std::size_t count,
                        std::chrono::milliseconds limit) const {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (Find(fragments).size() < count) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::string OscarEvent(const std::string& name) {
  return "\"event\": \"" + name + "\"";
}

std::string OscarField(const std::string& key, const std::string& value) {
  return "\"" + key + "\": \"" + value + "\"";
}

}  // namespace testsupport
