// The recorder of the soak test: appends request lines and response blocks to both logs at a
// high rate for a given time. Each piece of a block goes out in one to four writes split at any
// byte (inside the opening line, between CR and LF); now and then a block waits for its divider.
// A request line is written only after the previous block is complete, so a reader that sees
// request n + 1 knows that block n is finished. Prints the number of blocks written.
//
// korva_soak_writer FOLDER SECONDS SEED [BLOCKS_PER_SECOND]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "soak/soak_content.h"

namespace {

void writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n <= 0) {
      std::perror("korva_soak_writer: write");
      std::exit(1);
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

// Writes `bytes` in one to four pieces cut at random places.
void writeInPieces(int fd, const std::string& bytes, korva::soak::Random& rng) {
  const std::size_t pieces = 1 + rng.below(4);
  std::size_t done = 0;
  for (std::size_t p = 1; p < pieces && done < bytes.size(); ++p) {
    const std::size_t cut = done + rng.below(bytes.size() - done);
    writeAll(fd, bytes.data() + done, cut - done);
    done = cut;
    if (rng.below(4) == 0) std::this_thread::sleep_for(std::chrono::microseconds(rng.below(300)));
  }
  writeAll(fd, bytes.data() + done, bytes.size() - done);
}

int openLog(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
  return fd;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: korva_soak_writer FOLDER SECONDS SEED [BLOCKS_PER_SECOND]\n");
    return 2;
  }
  const std::string folder = argv[1];
  const double seconds = std::atof(argv[2]);
  const std::uint64_t seed = std::strtoull(argv[3], nullptr, 10);
  const double rate = argc > 4 ? std::atof(argv[4]) : 1500;
  const int requests = openLog(folder + "/HtmlRequest.log");
  const int responses = openLog(folder + "/HtmlResponse.log");
  korva::soak::Random rng(seed * 31 + 7);

  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  std::int64_t n = 0;
  for (; elapsed() < seconds; ++n) {
    writeInPieces(requests, korva::soak::requestLine(n), rng);
    const std::string opening = korva::soak::key(n) + "\r\n";
    const std::string tail = korva::soak::blockTail(seed, n);
    const std::size_t dividerAt = tail.size() - (korva::soak::kDivider.size() + 2);
    writeInPieces(responses, opening, rng);
    writeInPieces(responses, tail.substr(0, dividerAt), rng);
    // A block without its divider for a while: readers index it and must skip it later.
    if (rng.below(50) == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(5 + rng.below(60)));
    writeInPieces(responses, tail.substr(dividerAt), rng);
    const double ahead = static_cast<double>(n + 1) / rate - elapsed();
    if (ahead > 0) std::this_thread::sleep_for(std::chrono::duration<double>(ahead));
  }
  ::close(requests);
  ::close(responses);
  std::printf("%lld\n", static_cast<long long>(n));
  return 0;
}
