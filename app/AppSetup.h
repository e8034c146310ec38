#pragma once

// The application's names, set once before the main window is built. No
// display name is set: the platform would append it to every window title
// ("Quellorix 2.7 — Quellorix"), and the title already names the program.
void SetUpApplication();

// Qt's own texts (file and print dialogs, standard buttons, context menus) in
// German, from Qt's translation of qtbase (Debian: qt6-translations-l10n).
// Installed once for the application's lifetime; false when the translation
// is not there, and the dialogs then stay English.
bool InstallQtTranslation();
