// ASCII case folding for the byte-level scanners (the HTML filters, the charset sniffing).
#pragma once

namespace korva {

constexpr char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

}  // namespace korva
