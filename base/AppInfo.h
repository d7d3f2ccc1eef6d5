#pragma once

// The application's title: it captions the start-up message box and names the
// section of the settings file.
inline constexpr char appTitle[] = "TK840 TK960 PC control";

inline constexpr char versionText[] = "Version 1.02";

// The program's icon, built in from packaging/ (the menu entry's icon too).
inline constexpr char windowIconFile[] = ":/icons/tkcontrol.png";
