#include "gen_args.h"

#include <cctype>
#include <cstdlib>
#include <limits>

namespace korva {

const char* const kGeneratorUsage =
    "Aufruf: korvashimtale-gen [Optionen]\n"
    "Erzeugt HtmlRequest.log und HtmlResponse.log im Format des Rekorders.\n"
    "  --out DIR               Zielordner (Vorgabe: .)\n"
    "  --requests N            Anzahl der Anfragen (Vorgabe: 1000, oder --size / 5 KiB)\n"
    "  --size BYTES            Zielgröße des Antwortprotokolls dieses Laufs, Suffix K, M, G\n"
    "                          (Vorgabe: Anfragen x 5 KiB)\n"
    "  --append                an ein vorhandenes Paar anhängen, Schlüssel fortsetzen\n"
    "  --seed S                Startwert des Zufallsgenerators (Vorgabe: 1)\n"
    "  --max-body BYTES        Obergrenze einer Antwort (Vorgabe: 8M)\n"
    "  --big-body BYTES        die Antwort bei 90 % der Anfragen bekommt genau diese Größe\n"
    "  --spread SIGMA          Streuung der Antwortgrößen (log-normal, Vorgabe: 1;\n"
    "                          0: alle Antworten gleich groß, alle mit Status 200)\n"
    "  --unfinished            letzten Block ohne Schlusszeile und Trennlinie lassen\n"
    "  --no-response-for-last  letzte Anfrage ohne Antwortblock\n"
    "  --help                  diese Hilfe\n";

std::optional<std::int64_t> parseByteSize(std::string_view text) {
  std::size_t i = 0;
  std::int64_t value = 0;
  constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
    const int digit = text[i] - '0';
    if (value > (kMax - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
    ++i;
  }
  if (i == 0) return std::nullopt;
  std::string suffix;
  for (; i < text.size(); ++i)
    suffix += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
  int shift = 0;
  if (!suffix.empty() && suffix[0] != 'B') {
    const std::string unit = suffix.substr(1);
    if (!(unit.empty() || unit == "B" || unit == "IB")) return std::nullopt;
    switch (suffix[0]) {
      case 'K':
        shift = 10;
        break;
      case 'M':
        shift = 20;
        break;
      case 'G':
        shift = 30;
        break;
      default:
        return std::nullopt;
    }
  } else if (!suffix.empty() && suffix != "B") {
    return std::nullopt;
  }
  if (value > (kMax >> shift)) return std::nullopt;
  return value << shift;
}

namespace {

std::optional<std::int64_t> parseCount(const std::string& text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  for (char c : text)
    if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
  return std::stoll(text);
}

}  // namespace

ParsedArgs parseGeneratorArgs(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  GeneratorOptions& o = parsed.options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::optional<std::string> inlineValue;
    if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      inlineValue = name.substr(eq + 1);
      name.resize(eq);
    }
    const auto value = [&]() -> std::optional<std::string> {
      if (inlineValue) return inlineValue;
      if (i + 1 < args.size()) return args[++i];
      return std::nullopt;
    };
    const auto fail = [&](const std::string& message) {
      parsed.error = message;
      return parsed;
    };
    const auto flag = [&](bool& target) {
      target = true;
      return !inlineValue;
    };
    if (name == "--help" || name == "-h") {
      parsed.help = true;
    } else if (name == "--append") {
      if (!flag(o.append)) return fail("--append erwartet keinen Wert");
    } else if (name == "--unfinished") {
      if (!flag(o.unfinished)) return fail("--unfinished erwartet keinen Wert");
    } else if (name == "--no-response-for-last") {
      if (!flag(o.noResponseForLast)) return fail("--no-response-for-last erwartet keinen Wert");
    } else if (name == "--out") {
      const auto v = value();
      if (!v || v->empty()) return fail("--out braucht einen Ordner");
      o.outDir = *v;
    } else if (name == "--requests" || name == "--seed") {
      const auto v = value();
      const auto n = v ? parseCount(*v) : std::nullopt;
      if (!n) return fail(name + " braucht eine ganze Zahl >= 0");
      if (name == "--requests") {
        o.requests = *n;
      } else {
        o.seed = static_cast<std::uint64_t>(*n);
      }
    } else if (name == "--size" || name == "--max-body" || name == "--big-body") {
      const auto v = value();
      const auto n = v ? parseByteSize(*v) : std::nullopt;
      if (!n) return fail(name + " braucht eine Größe in Bytes (Suffix K, M oder G erlaubt)");
      (name == "--size" ? o.targetBytes : name == "--max-body" ? o.maxBody : o.bigBody) = *n;
    } else if (name == "--spread") {
      const auto v = value();
      char* end = nullptr;
      const double s = v ? std::strtod(v->c_str(), &end) : -1;
      if (!v || v->empty() || *end != '\0' || !(s >= 0 && s <= 4))
        return fail("--spread braucht eine Zahl von 0 bis 4");
      o.spread = s;
    } else {
      return fail("unbekannte Option: " + args[i]);
    }
  }
  return parsed;
}

}  // namespace korva
