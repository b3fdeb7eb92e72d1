// korvashimtale-gen: writes a realistic HtmlRequest.log / HtmlResponse.log pair.
#include <chrono>
#include <cstdio>
#include <exception>
#include <stdexcept>
#include <string>
#include <vector>

#include "gen_args.h"
#include "log_generator.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const korva::ParsedArgs parsed = korva::parseGeneratorArgs(args);
  if (!parsed.error.empty()) {
    std::fprintf(stderr, "korvashimtale-gen: %s\n%s", parsed.error.c_str(), korva::kGeneratorUsage);
    return 2;
  }
  if (parsed.help) {
    std::fputs(korva::kGeneratorUsage, stdout);
    return 0;
  }
  korva::GeneratorOptions options = parsed.options;
  options.collectRecords = false;  // only the summary is printed; spare the memory
  const auto start = std::chrono::steady_clock::now();
  korva::GeneratorResult r;
  try {
    r = korva::generateLogs(options);
  } catch (const std::invalid_argument& e) {
    std::fprintf(stderr, "korvashimtale-gen: %s\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "korvashimtale-gen: Fehler: %s\n", e.what());
    return 1;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::string time = std::to_string(seconds);
  time.resize(time.find('.') + 3);
  time[time.find('.')] = ',';
  std::fprintf(stderr,
               "korvashimtale-gen: %lld Anfragen, %lld Antwortblöcke; HtmlRequest.log %lld Bytes, "
               "HtmlResponse.log %lld Bytes (%lld neu); %s s\n",
               static_cast<long long>(r.requestCount), static_cast<long long>(r.blockCount),
               static_cast<long long>(r.requestLogBytes),
               static_cast<long long>(r.responseLogBytes),
               static_cast<long long>(r.responseBytesAdded), time.c_str());
  if (r.responseLogBytes > 2147483647LL) {
    std::fprintf(stderr,
                 "korvashimtale-gen: Warnung: HtmlResponse.log ist größer als 2147483647 Bytes; "
                 "Positionen passen nicht mehr in 32 Bit.\n");
  }
  return 0;
}
