#pragma once
// The two process-wide flags shared between threads. Everything else is owned
// by an object that is handed around by reference.
#include <atomic>

namespace kelvor {

// Ends the scan and conversion loops; polled after every TS packet.
inline std::atomic<bool> abortRequested{false};

// Set by "/V" (or -v): stream warnings are shown only when it is set.
inline std::atomic<bool> verbose{false};

}  // namespace kelvor
