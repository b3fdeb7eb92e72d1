// The German texts of the status bar and of the command-line tool, as pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "index/clsIndex.h"

namespace korva {

// 1234567 as "1.234.567".
std::string germanNumber(std::uint64_t n);

// "1 Anfrage", "N Anfragen"; under a filter that hides rows "N von M Anfragen".
std::string requestCountText(std::uint64_t shown, std::uint64_t total);

enum class IndexState { Unknown, Building, Current, Resumed, Rebuilt, Failed };
// "Index aktuell, N Einträge", "Index wird aufgebaut", ...; empty for Unknown.
std::string indexStateText(IndexState state, std::uint64_t entries);
// The state that a finished InitializeIndex leaves.
IndexState indexStateOf(clsIndex::Outcome outcome);

// A size in bytes for people: "532 Bytes", "1,2 KB", "1,2 MB", "3,0 GB" (units of 1024).
std::string sizeText(std::uint64_t bytes);

// The selected response: "Antwort: 1,2 MB", "Leere Antwort" when the block was found with an
// empty body, "Keine Antwort aufgezeichnet" when no block was found.
std::string responseText(bool found, std::uint64_t bodySize);

// The requests the rendered view kept from the network for this page; empty for none.
std::string blockedText(int count);

// A character set the user chose instead of the automatic one, by its menu caption:
// "Kyrillisch (Windows-1251)" gives "Zeichensatz: Windows-1251 (fest)", "UTF-8" gives
// "Zeichensatz: UTF-8 (fest)". Empty for no caption (the automatic detection).
std::string forcedCharsetText(std::string_view caption);

// The source view left a line without colours for its length; empty when it did not.
std::string longLinePlainText(bool leftPlain);

}  // namespace korva
