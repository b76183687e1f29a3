#pragma once
// Identifiers of the main window's commands and of the dialogs' controls.
// They are the program's resource identifiers and stay the same on every
// platform.

namespace kelvor::ids {

inline constexpr int kConvert = 101;        // menu File, "&Convert"
inline constexpr int kQuit = 102;           // menu File, "&Quit"
inline constexpr int kInput = 103;          // menu File, "&Input"
inline constexpr int kReadMe = 104;         // menu Help, "Read &Me"
inline constexpr int kAbout = 105;          // menu Help, "&About"
inline constexpr int kTrackList = 106;      // main window list box
inline constexpr int kStart = 107;          // "Start &convertion"
inline constexpr int kConvertAc3 = 108;     // "&Convert AC3 to MPEG audio"
inline constexpr int kReadMeText = 109;     // Read Me edit control
inline constexpr int kReturn = 110;         // Read Me "Return"
inline constexpr int kStatusText = 111;     // conversion dialog first line
inline constexpr int kTimeText = 112;       // conversion dialog time line
inline constexpr int kAbort = 113;          // scan dialog "Abort"
inline constexpr int kStop = 114;           // conversion dialog "Stop"
inline constexpr int kProgressBar = 1;      // created with the conversion dialog
inline constexpr int kAboutOk = 1;          // About "OK"

}  // namespace kelvor::ids
