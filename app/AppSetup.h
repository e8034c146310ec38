#pragma once

// The application's names, set once before the main window is built. No
// display name is set: the platform would append it to every window title
// ("Quellorix 2.7 — Quellorix"), and the title already names the program.
void SetUpApplication();
