#include "index/file_error.h"

#include <cerrno>
#include <cstring>

namespace korva {

std::string describeErrno(int errorNumber) {
  switch (errorNumber) {
    case ENOENT:
      return "Datei nicht gefunden";
    case EACCES:
    case EPERM:
      return "Zugriff verweigert";
    case EISDIR:
      return "Ist ein Verzeichnis, keine Datei";
    case ESPIPE:
      return "Keine gewöhnliche Datei";  // a pipe or device where a file should be
    case ENOTDIR:
      return "Pfad nicht gefunden";
    case ENOSPC:
      return "Kein Speicherplatz mehr auf dem Datenträger";
    case EDQUOT:
      return "Speicherkontingent überschritten";
    case EROFS:
      return "Datenträger ist schreibgeschützt";
    case EMFILE:
    case ENFILE:
      return "Zu viele Dateien geöffnet";
    case EIO:
      return "Ein-/Ausgabefehler beim Zugriff auf die Datei";
    case ENOMEM:
      return "Nicht genügend Speicher";
    case EFBIG:
      return "Datei ist zu groß";
    case ENAMETOOLONG:
      return "Dateiname ist zu lang";
    case ELOOP:
      return "Zu viele symbolische Verknüpfungen";
    case EBUSY:
      return "Datei wird von einem anderen Prozess verwendet";
    default:
      return std::string("Dateifehler: ") + std::strerror(errorNumber);
  }
}

FileError::FileError(int errorNumber, const std::string& fileName)
    : std::runtime_error(describeErrno(errorNumber) + ": " + fileName), errorNumber_(errorNumber) {}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace korva
