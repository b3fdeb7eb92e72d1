#include "view/charset.h"

#include <QStringDecoder>

#include "view/text_decode.h"

namespace korva {

bool charsetAvailable(const char* name) { return QStringDecoder(name).isValid(); }

QString decodeAs(std::string_view bytes, const char* name) {
  QStringDecoder decoder(name);
  if (!decoder.isValid()) decoder = QStringDecoder(QStringDecoder::Utf8);
  QString text = decoder(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  text.replace(QChar(u'\0'), QChar(kNulPlaceholder));
  return text;
}

}  // namespace korva
