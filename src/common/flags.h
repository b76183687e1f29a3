#pragma once
// The two process-wide flags shared between threads. Everything else is owned
// by an object that is handed around by reference.
#include <atomic>

namespace kelvor {

// The user asked to stop (Stop, Abort, Ctrl-C): ends the scan and conversion
// loops, polled after every TS packet. Failures never set it; they come back
// as results.
inline std::atomic<bool> abortRequested{false};

// Set by "/V" (or -v): stream warnings are shown only when it is set.
inline std::atomic<bool> verbose{false};

}  // namespace kelvor
