#pragma once

// The maker's identity, shown on the main window's logo, the information dialog and the
// published web page. Kept in one place so every surface shows the same.
namespace Maker {

inline constexpr const char* Name = "Tarnvik Software";
// Neutral address until the project has a web site of its own.
inline constexpr const char* WebAddress = "https://tarnvik.example.org/";
// The logo text "Tarnvik" in the three coloured pieces the web page and the main window use.
inline constexpr const char* LogoPieces[3] = {"Tar", "n", "vik"};
inline constexpr const char* TagLine = "Zeitmessung f\xC3\xBCr Seifenkistenrennen"; // UTF-8

} // namespace Maker
