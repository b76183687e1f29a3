#pragma once
// The text of the Read Me dialog, built into the program. CR LF line ends,
// as the multi-line edit control of every platform shows them.
#include <string_view>

namespace kelvor {

inline constexpr std::string_view kReadMeText =
    "KELVOR - TS stream converter\r\n"
    "\r\n"
    "KELVOR converts transport stream (TS) recordings from satellite or\r\n"
    "terrestrial broadcast into program stream (MPG), TS or M2TS files that\r\n"
    "players and video editors accept.\r\n"
    "\r\n"
    "Supported formats\r\n"
    "  Audio: MPEG, AC3 and EAC3 (48 kHz)\r\n"
    "  Video: MPEG2 and H264\r\n"
    "\r\n"
    "How to convert a recording\r\n"
    "  1. Choose the recording with File/Input. KELVOR scans it and lists\r\n"
    "     its audio tracks.\r\n"
    "  2. Pick one track, or \"All audio tracks\", in the audio track list.\r\n"
    "  3. Optionally tick \"Convert AC3 to MPEG audio\".\r\n"
    "  4. Click \"Start convertion\".\r\n"
    "  5. Choose the output file and its format (MPG, TS or M2TS) in\r\n"
    "     \"Save stream as\". Stop ends the conversion early; the file\r\n"
    "     written so far stays complete and playable.\r\n"
    "  6. When the conversion ends, KELVOR reports the video time reached.\r\n"
    "     A much shorter time than the recording's length points to a\r\n"
    "     damaged or cut recording.\r\n"
    "\r\n"
    "Notes\r\n"
    "  - Every broadcast recording has reception drops. KELVOR resynchronises\r\n"
    "    audio and video after each drop: late audio frames are dropped and\r\n"
    "    missing ones repeated, so the tracks stay in step.\r\n"
    "  - A single audio track can be chosen because many players and DVD\r\n"
    "    authoring tools take only one, and it keeps the file small.\r\n"
    "  - EAC3 is rewritten as AC3, or decoded to stereo MPEG audio when\r\n"
    "    \"Convert AC3 to MPEG audio\" is ticked, since few devices play EAC3.\r\n"
    "  - M2TS is used by Blu-ray authoring tools and by many media players\r\n"
    "    and TV sets; it suits H264 recordings best.\r\n"
    "  - The output format and folder are proposed again for the next\r\n"
    "    conversion while the program runs; nothing is stored on disk.\r\n"
    "\r\n"
    "Start the program with /V to see warnings about damaged streams.\r\n"
    "Enjoy your recordings!";

}  // namespace kelvor
