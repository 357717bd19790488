// Writing speed of the message writer, for bench/message.sh: one message with a file attachment
// is pulled through TIdMessage::OpenSource in 64 KiB reads and written to OUT (default
// /dev/null), as the SMTP client does while sending. Prints one line the script reads:
//   bytes=N seconds=S mbps=R
//
//   MessageBench ATTACHMENT [OUT]
#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <vector>

#include "inet/IdMessage.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: MessageBench ATTACHMENT [OUT]\n");
    return 2;
  }
  const char* outPath = argc == 3 ? argv[2] : "/dev/null";
  try {
    inet::TIdMessage m;
    m.From = {"Bench", "bench@example.com"};
    m.Recipients = {{"Receiver", "receiver@example.org"}};
    m.Subject = "Large attachment";
    m.ContentType = "multipart/mixed";
    m.Body = {"The file is attached."};
    m.AddAttachment(argv[1]).ExtraHeaders.push_back("Content-ID: <attachment>");

    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(outPath, "wb"), std::fclose);
    if (!out) {
      std::perror(outPath);
      return 1;
    }
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto source = m.OpenSource();
    std::vector<char> buffer(64 * 1024);
    long long bytes = 0;
    while (std::size_t n = source->Read(buffer.data(), buffer.size())) {
      if (std::fwrite(buffer.data(), 1, n, out.get()) != n) {
        std::perror(outPath);
        return 1;
      }
      bytes += static_cast<long long>(n);
    }
    if (std::fflush(out.get()) != 0) {
      std::perror(outPath);
      return 1;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("bytes=%lld seconds=%.3f mbps=%.1f\n", bytes, seconds, bytes / seconds / 1e6);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "MessageBench: %s\n", e.what());
    return 1;
  }
  return 0;
}
