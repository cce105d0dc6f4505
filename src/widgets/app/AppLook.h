// src/widgets/app/AppLook.h
#pragma once

class QObject;
class QTranslator;

// What every window of the program shares, set once after the application
// object exists.
namespace applook {

// Qt's own texts (standard buttons, the edit fields' context menus) in Czech,
// as the rest of the interface, whatever the system's locale: Qt's Czech
// catalogue "qtbase" from Qt's translations folder. The translator belongs to
// owner; null (logged) when the catalogue is not installed.
QTranslator* InstallCzechQtTexts(QObject* owner);

// The program's icon on every window and box.
void InstallWindowIcon();

}  // namespace applook
