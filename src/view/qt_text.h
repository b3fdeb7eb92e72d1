// UTF-16 text between the Qt-free core (std::u16string) and Qt (QString), without re-encoding.
#pragma once

#include <QString>
#include <string_view>

namespace korva {

inline QString toQString(std::u16string_view text) {
  return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

// A view of the string's UTF-16 units; valid while `text` is alive and unchanged.
inline std::u16string_view toU16View(const QString& text) {
  return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

}  // namespace korva
