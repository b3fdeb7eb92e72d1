// Character sets the user can choose when the automatic detection guesses wrong, decoded with
// Qt's converter (ICU on Debian's Qt).
#pragma once

#include <QString>
#include <string_view>

namespace korva {

struct Charset {
  const char* name;     // as the converter knows it
  const char* caption;  // as the menu shows it
};

// The explicit sets offered beside the automatic detection, in menu order.
inline constexpr Charset kCharsets[] = {
    {"UTF-8", "UTF-8"},
    {"windows-1252", "Westeuropäisch (Windows-1252)"},
    {"ISO-8859-1", "Westeuropäisch (ISO-8859-1)"},
    {"ISO-8859-15", "Westeuropäisch (ISO-8859-15)"},
    {"ISO-8859-2", "Mitteleuropäisch (ISO-8859-2)"},
    {"windows-1250", "Mitteleuropäisch (Windows-1250)"},
    {"ISO-8859-7", "Griechisch (ISO-8859-7)"},
    {"windows-1253", "Griechisch (Windows-1253)"},
    {"ISO-8859-5", "Kyrillisch (ISO-8859-5)"},
    {"KOI8-R", "Kyrillisch (KOI8-R)"},
    {"windows-1251", "Kyrillisch (Windows-1251)"},
    {"ISO-8859-9", "Türkisch (ISO-8859-9)"},
    {"Shift_JIS", "Japanisch (Shift-JIS)"},
    {"EUC-JP", "Japanisch (EUC-JP)"},
    {"GB18030", "Chinesisch (GB18030)"},
    {"Big5", "Chinesisch traditionell (Big5)"},
    {"EUC-KR", "Koreanisch (EUC-KR)"},
};

// True when the converter of this Qt build knows `name`.
bool charsetAvailable(const char* name);

// `bytes` decoded as `name`; bytes the set cannot map become U+FFFD, U+0000 becomes U+2400 as
// in every view. An unknown name decodes as UTF-8.
QString decodeAs(std::string_view bytes, const char* name);

}  // namespace korva
