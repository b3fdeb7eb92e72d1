// Command line of korvashimtale-gen, kept apart from main() so that tests can parse in-process.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "log_generator.h"

namespace korva {

struct ParsedArgs {
  GeneratorOptions options;
  bool help = false;
  std::string error;  // non-empty: a usage error (exit status 2)
};

// `args` excludes the program name. Accepts "--name value" and "--name=value".
ParsedArgs parseGeneratorArgs(const std::vector<std::string>& args);

// Decimal byte count with an optional binary suffix K, M or G (any case, "B"/"iB" may follow).
std::optional<std::int64_t> parseByteSize(std::string_view text);

extern const char* const kGeneratorUsage;

}  // namespace korva
