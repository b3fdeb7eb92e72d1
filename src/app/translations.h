// The program is German whatever the system locale says, Qt's own dialogs and menus included.
#pragma once

namespace korva {

// Makes German the default locale (number formats) and installs Qt's German translations
// (qtbase_de.qm from Qt's translations folder) into the running application. False when the
// translation file could not be loaded; the program then runs with Qt's English texts.
bool installGermanTranslations();

}  // namespace korva
