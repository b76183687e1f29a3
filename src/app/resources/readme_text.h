#pragma once
// The text of the Read Me dialog, built into the program: CR LF line ends,
// one line per paragraph (the dialog's control wraps them).
#include <string_view>

namespace kelvor {

inline constexpr std::string_view kReadMeText =
    "KELVOR - TS stream converter\r\n"
    "\r\n"
    "KELVOR converts transport stream (TS) recordings from satellite or terrestrial "
    "broadcast into program stream (MPG), TS or M2TS files that players and video editors "
    "accept.\r\n"
    "\r\n"
    "Supported formats\r\n"
    "Audio: MPEG, AC3 and EAC3 (48 kHz)\r\n"
    "Video: MPEG2 and H264\r\n"
    "\r\n"
    "How to convert a recording\r\n"
    "1. Choose the recording with File/Input. KELVOR scans it and lists its audio tracks. "
    "Abort ends the scan early and lists the tracks found so far.\r\n"
    "2. Pick one track, or \"All audio tracks\", in the audio track list.\r\n"
    "3. Optionally tick \"Convert AC3 to MPEG audio\".\r\n"
    "4. Click \"Start convertion\".\r\n"
    "5. Choose the output file and its format (MPG, TS or M2TS) in \"Save stream as\". Stop "
    "ends the conversion early; the file written so far stays complete and playable.\r\n"
    "6. When the conversion ends, KELVOR reports the video time reached. A time much shorter "
    "than the recording points to a damaged or cut recording.\r\n"
    "\r\n"
    "Notes\r\n"
    "- Every broadcast recording has reception drops. KELVOR resynchronises audio and video "
    "after each drop: late audio frames are dropped and missing ones repeated, so the tracks "
    "stay in step.\r\n"
    "- A single audio track can be chosen because many players and DVD authoring tools take "
    "only one, and it keeps the file small.\r\n"
    "- EAC3 is rewritten as AC3, or decoded to stereo MPEG audio when \"Convert AC3 to MPEG "
    "audio\" is ticked, since few devices play EAC3.\r\n"
    "- M2TS is used by Blu-ray authoring tools and by many media players and TV sets; it "
    "suits H264 recordings best.\r\n"
    "- The output format and folder are proposed again for the next conversion while the "
    "program runs; nothing is stored on disk.\r\n"
    "- Only the video and the chosen audio are kept; subtitles, teletext and programme "
    "guide data are left out.\r\n"
    "\r\n"
    "Start the program with /V to see warnings about damaged streams.\r\n"
    "Enjoy your recordings!";

}  // namespace kelvor
