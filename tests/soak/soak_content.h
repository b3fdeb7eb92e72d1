// What the soak writer writes for request n, derived from the seed and n alone, so that the test
// knows every body without being told: keys, request lines, and bodies full of lines that are
// almost dividers, copies of keys, script and comment markup, bytes above 0x7F and zero bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

namespace korva::soak {

inline constexpr std::size_t kKeyLength = 24;
inline const std::string kDivider(47, '-');

// splitmix64: small, fast and good enough to vary the content.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 .. bound - 1
  std::uint64_t below(std::uint64_t bound) { return bound == 0 ? 0 : next() % bound; }

 private:
  std::uint64_t state_;
};

inline std::string key(std::int64_t n) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "20261209-SOAK-%010lld",
                static_cast<long long>(n % 10000000000ll));
  return buffer;
}

inline std::string requestLine(std::int64_t n) {
  return key(n) + " - GET http://soak.test/page/" + std::to_string(n) + " HTTP/1.1\r\n";
}

// One body line: never a CR, never exactly the divider; a lone LF is an ordinary byte.
inline std::string bodyLine(Random& rng, std::int64_t n) {
  switch (rng.below(16)) {
    case 0:
      return std::string();
    case 1:
      return std::string(46, '-');
    case 2:
      return std::string(48, '-');
    case 3:
      return kDivider + " ";
    case 4:
      return key(n);  // the block's own key inside its body is body text
    case 5: {         // an earlier key: the scan from the start meets that block's own line first
      if (n == 0) return "<p>first</p>";
      const auto back = static_cast<std::int64_t>(
          rng.below(static_cast<std::uint64_t>(std::min<std::int64_t>(n, 50))));
      return key(n - 1 - back);
    }
    case 6:
      return "<script type=\"text/javascript\">var n = " + std::to_string(n) + ";</script>";
    case 7:
      return "<!-- comment " + std::to_string(n) + " --> <SCRIPT>x()</SCRIPT>";
    case 8: {
      std::string line;
      for (int b = 0x80; b <= 0xFF; ++b) line.push_back(static_cast<char>(b));
      return line;
    }
    case 9:
      return std::string("zero\0bytes\0here", 15);
    case 10:
      return "line with a lone\nline feed";
    case 11: {  // now and then a long line
      const std::size_t length = rng.below(20) == 0 ? 20000 + rng.below(150000) : rng.below(3000);
      std::string line(length, 'w');
      for (std::size_t i = 0; i < length; i += 7) line[i] = static_cast<char>('a' + i % 26);
      return line;
    }
    default: {
      std::string line = "<p>Antwort " + std::to_string(n) + ": ";
      const std::size_t words = 3 + rng.below(25);
      for (std::size_t w = 0; w < words; ++w)
        line += "wort" + std::to_string(rng.below(1000)) + " ";
      return line + "</p>";
    }
  }
}

// The body of block n as the display gives it: every line followed by CR LF.
inline std::string body(std::uint64_t seed, std::int64_t n) {
  Random rng(seed ^ (static_cast<std::uint64_t>(n) * 0xD6E8FEB86659FD93ull));
  std::string text;
  const std::uint64_t lines = rng.below(8) == 0 ? 0 : 1 + rng.below(30);
  for (std::uint64_t i = 0; i < lines; ++i) text += bodyLine(rng, n) + "\r\n";
  return text;
}

inline std::string closingLine(std::int64_t n) {
  std::string line = "HTTP/1.1 200 OK " + std::to_string(n % 100000000);
  line.resize(kKeyLength, ' ');
  return line;
}

// Everything of block n after its opening line: body, closing line, divider.
inline std::string blockTail(std::uint64_t seed, std::int64_t n) {
  return body(seed, n) + closingLine(n) + "\r\n" + kDivider + "\r\n";
}

inline std::string block(std::uint64_t seed, std::int64_t n) {
  return key(n) + "\r\n" + blockTail(seed, n);
}

}  // namespace korva::soak
