#include "viewer/status_texts.h"

#include <cstdio>

namespace korva {

std::string germanNumber(std::uint64_t n) {
  std::string digits = std::to_string(n);
  for (std::size_t i = digits.size(); i > 3; i -= 3) digits.insert(i - 3, 1, '.');
  return digits;
}

std::string requestCountText(std::uint64_t shown, std::uint64_t total) {
  const char* noun = total == 1 ? " Anfrage" : " Anfragen";
  if (shown == total) return germanNumber(total) + noun;
  return germanNumber(shown) + " von " + germanNumber(total) + noun;
}

std::string indexStateText(IndexState state, std::uint64_t entries) {
  const std::string count =
      ", " + germanNumber(entries) + (entries == 1 ? " Eintrag" : " Einträge");
  switch (state) {
    case IndexState::Building:
      return "Index wird aufgebaut";
    case IndexState::Current:
      return "Index aktuell" + count;
    case IndexState::Resumed:
      return "Index fortgesetzt" + count;
    case IndexState::Rebuilt:
      return "Index neu aufgebaut" + count;
    case IndexState::Failed:
      return "Index unvollständig" + count;
    case IndexState::Unknown:
      break;
  }
  return {};
}

IndexState indexStateOf(clsIndex::Outcome outcome) {
  switch (outcome) {
    case clsIndex::Outcome::Current:
      return IndexState::Current;
    case clsIndex::Outcome::Resumed:
      return IndexState::Resumed;
    case clsIndex::Outcome::Rebuilt:
      return IndexState::Rebuilt;
    case clsIndex::Outcome::Failed:
      return IndexState::Failed;
    case clsIndex::Outcome::None:
      break;
  }
  return IndexState::Unknown;
}

std::string sizeText(std::uint64_t bytes) {
  if (bytes < 1024) return germanNumber(bytes) + (bytes == 1 ? " Byte" : " Bytes");
  const char* units[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1024.0;
  int unit = 0;
  // Rounded to one decimal first, so that 1023.96 KB reads "1,0 MB", not "1024,0 KB".
  while (unit < 3 && value >= 1023.95) {
    value /= 1024.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  std::string s(text);
  for (char& c : s)
    if (c == '.') c = ',';
  return s + " " + units[unit];
}

std::string responseText(bool found, std::uint64_t bodySize) {
  if (!found) return "Keine Antwort aufgezeichnet";
  if (bodySize == 0) return "Leere Antwort";
  return "Antwort: " + sizeText(bodySize);
}

std::string blockedText(int count) {
  if (count <= 0) return {};
  return germanNumber(static_cast<std::uint64_t>(count)) +
         (count == 1 ? " Anfrage blockiert" : " Anfragen blockiert");
}

std::string forcedCharsetText(std::string_view caption) {
  if (caption.empty()) return {};
  // The set's own name is in parentheses behind the language, when there is one.
  const std::size_t open = caption.rfind('(');
  const std::size_t close = caption.rfind(')');
  if (open != std::string_view::npos && close != std::string_view::npos && close > open)
    caption = caption.substr(open + 1, close - open - 1);
  return "Zeichensatz: " + std::string(caption) + " (fest)";
}

std::string longLinePlainText(bool leftPlain) {
  return leftPlain ? "Sehr lange Zeile: nicht eingefärbt" : "";
}

}  // namespace korva
