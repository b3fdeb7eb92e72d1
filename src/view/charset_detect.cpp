// The last rule of the automatic encoding: an undeclared body that is not UTF-8 is shown in the
// single-byte set the detector names, when that is one the viewer decodes and the guess is well
// founded; else in Windows-1252, as before.
//
// The tables of the sets come from ICU's converters, so that no hand-typed table can be wrong and
// the command-line tool shows the same text as the window. The decoding itself is one table
// lookup per byte, as fast as Windows-1252.
#include <uchardet/uchardet.h>
#include <unicode/ucnv.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "index/codec.h"
#include "view/text_decode.h"

namespace korva {
namespace {

struct SetName {
  BodyEncoding encoding;
  const char* converter;  // as ICU knows it
  const char* detected;   // as uchardet names it
};

constexpr SetName kSets[] = {
    {BodyEncoding::Windows1252, "windows-1252", "WINDOWS-1252"},
    {BodyEncoding::Windows1250, "windows-1250", "WINDOWS-1250"},
    {BodyEncoding::Iso8859_2, "ISO-8859-2", "ISO-8859-2"},
    {BodyEncoding::Windows1251, "windows-1251", "WINDOWS-1251"},
    {BodyEncoding::Koi8R, "KOI8-R", "KOI8-R"},
    {BodyEncoding::Iso8859_5, "ISO-8859-5", "ISO-8859-5"},
    {BodyEncoding::Windows1253, "windows-1253", "WINDOWS-1253"},
    {BodyEncoding::Iso8859_7, "ISO-8859-7", "ISO-8859-7"},
};
constexpr std::size_t kSetCount = sizeof kSets / sizeof kSets[0];

using Table = std::array<char16_t, 256>;

std::size_t slotOf(BodyEncoding encoding) {
  for (std::size_t k = 0; k < kSetCount; ++k)
    if (kSets[k].encoding == encoding) return k;
  return 0;
}

// Windows-1252 from the codec the rest of the viewer uses; the others from ICU, with what a set
// leaves unassigned as U+FFFD.
Table tableOf(std::size_t slot) {
  Table t{};
  if (slot == 0) {
    for (int b = 0; b < 256; ++b) t[b] = codePoint1252(static_cast<unsigned char>(b));
  } else {
    UErrorCode error = U_ZERO_ERROR;
    std::unique_ptr<UConverter, void (*)(UConverter*)> converter(
        ucnv_open(kSets[slot].converter, &error), ucnv_close);
    if (U_SUCCESS(error))
      ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                          &error);
    for (int b = 0; b < 256; ++b) {
      const char byte = static_cast<char>(b);
      UChar unit[4];
      UErrorCode step = error;
      const int32_t n =
          U_SUCCESS(step) ? ucnv_toUChars(converter.get(), unit, 4, &byte, 1, &step) : 0;
      t[b] = U_SUCCESS(step) && n == 1 ? static_cast<char16_t>(unit[0])
             : b < 0x80                ? static_cast<char16_t>(b)
                                       : kReplacementChar;
    }
  }
  t[0] = kNulPlaceholder;
  return t;
}

const Table& tableFor(BodyEncoding encoding) {
  static const std::array<Table, kSetCount> tables = [] {
    std::array<Table, kSetCount> all{};
    for (std::size_t k = 0; k < kSetCount; ++k) all[k] = tableOf(k);
    return all;
  }();
  return tables[slotOf(encoding)];
}

// The detector reads the body in pieces and only those with a high byte: mark-up and ASCII text
// tell the single-byte sets nothing apart, and a 20 MB body must not be read through twice.
constexpr std::size_t kPiece = 4096;
constexpr std::size_t kSampleLimit = 64 * 1024;  // fed at most
constexpr std::size_t kEnoughHighBytes = 2048;   // the guess rarely changes after that
// A guess other than Windows-1252 counts only when it changes enough of what is shown: at least
// this many high bytes, and an eighth of them, must read differently than in Windows-1252. Text
// whose few high bytes are the same letters in both ("Café" read as ISO-8859-2) stays Western.
constexpr std::size_t kMinDistinct = 4;
constexpr std::size_t kDistinctShare = 8;

bool hasHighByte(const unsigned char* p, std::size_t n) {
  unsigned char any = 0;
  for (std::size_t k = 0; k < n; ++k) any |= p[k];
  return (any & 0x80) != 0;
}

BodyEncoding encodingOfDetected(const char* name) {
  if (name == nullptr) return BodyEncoding::Windows1252;
  for (const SetName& set : kSets)
    if (std::strcmp(name, set.detected) == 0) return set.encoding;
  return BodyEncoding::Windows1252;
}

}  // namespace

void writeSingleByte(std::string_view bytes, BodyEncoding encoding, char16_t* dst) {
  const Table& table = tableFor(encoding);
  for (unsigned char b : bytes) *dst++ = table[b];
}

std::u16string decodeSingleByte(std::string_view bytes, BodyEncoding encoding) {
  std::u16string out(bytes.size(), u'\0');
  writeSingleByte(bytes, encoding, out.data());
  return out;
}

BodyEncoding guessSingleByteEncoding(std::string_view bytes) {
  std::unique_ptr<uchardet, void (*)(uchardet_t)> detector(uchardet_new(), uchardet_delete);
  if (!detector) return BodyEncoding::Windows1252;
  std::array<std::size_t, 256> counts{};
  std::size_t fed = 0, high = 0;
  const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
  for (std::size_t at = 0; at < bytes.size() && fed < kSampleLimit && high < kEnoughHighBytes;
       at += kPiece) {
    const std::size_t n = std::min(kPiece, bytes.size() - at);
    if (!hasHighByte(data + at, n)) continue;
    for (std::size_t k = 0; k < n; ++k) {
      ++counts[data[at + k]];
      high += data[at + k] >> 7;
    }
    uchardet_handle_data(detector.get(), bytes.data() + at, n);
    fed += n;
  }
  uchardet_data_end(detector.get());
  BodyEncoding guess = encodingOfDetected(uchardet_get_charset(detector.get()));
  if (guess == BodyEncoding::Windows1252) return guess;
  // In the ISO sets 0x80 to 0x9F are control codes no page uses; the Windows set of the same
  // script has its quotes and dashes there.
  std::size_t c1 = 0;
  for (int b = 0x80; b < 0xA0; ++b) c1 += counts[b];
  if (c1 > 0 && guess == BodyEncoding::Iso8859_7) guess = BodyEncoding::Windows1253;
  if (c1 > 0 && guess == BodyEncoding::Iso8859_2) guess = BodyEncoding::Windows1250;
  const Table& western = tableFor(BodyEncoding::Windows1252);
  const Table& chosen = tableFor(guess);
  std::size_t distinct = 0;
  for (int b = 0x80; b < 256; ++b)
    if (chosen[b] != western[b]) distinct += counts[b];
  if (distinct < kMinDistinct || distinct * kDistinctShare < high) return BodyEncoding::Windows1252;
  return guess;
}

}  // namespace korva
