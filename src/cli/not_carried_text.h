#pragma once
// How the command line names a stream the scan saw and the conversion does
// not carry: one line of text, or one JSON object.
#include <string>

#include "scan/scan_pass.h"

namespace kelvor::cli {

// "PID 0x0102 (DTS, DTS 48 kHz 5.1, [eng]) <what>: DTS audio is not supported"
std::string NotCarriedText(const ScanSummary::NotCarried& n, const char* what);

// {"pid": 258, "stream_type": 130, "kind": "dts", "language": "eng", ...}
std::string NotCarriedJson(const ScanSummary::NotCarried& n);

// The not_supported array of a scan: "[]" or "[\n<indent>  {...},...\n<indent>]".
std::string NotCarriedJsonArray(const ScanSummary& summary, const std::string& indent);

}  // namespace kelvor::cli
