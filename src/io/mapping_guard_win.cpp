#include <windows.h>

#include <cstdint>

#include "io/guard_slots.h"

namespace kelvor::guard_detail {
namespace {

// Windows refuses to shorten a file while a view of it is mapped, but a
// view's page can still fail to come in (a network file whose server went
// away, a removed drive): the read then raises an in-page error. The
// handler puts zeroed memory where the whole view was and raises the
// mapping's flag; the read runs again, finds zeros, and the reader ends
// with an input error at its next step. ReadOnlyFile::unmap releases such
// memory instead of unmapping it.
LONG CALLBACK OnPageError(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  if (record->ExceptionCode != EXCEPTION_IN_PAGE_ERROR || record->NumberParameters < 2) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  const auto at = static_cast<std::uintptr_t>(record->ExceptionInformation[1]);
  for (Slot& s : slots) {
    std::atomic<bool>* flag = s.flag.load();
    const std::uintptr_t begin = s.begin.load();
    if (flag == nullptr || at < begin || at >= s.end.load()) continue;
    void* base = reinterpret_cast<void*>(begin);
    const std::size_t size = s.end.load() - begin;
    if (::UnmapViewOfFile(base) != 0 &&
        ::VirtualAlloc(base, size, MEM_RESERVE | MEM_COMMIT, PAGE_READONLY) == base) {
      flag->store(true);
      return EXCEPTION_CONTINUE_EXECUTION;  // the read is repeated and finds zeros
    }
    break;
  }
  return EXCEPTION_CONTINUE_SEARCH;  // not ours: the process ends as before
}

}  // namespace

void InstallFaultHandler() { ::AddVectoredExceptionHandler(1, OnPageError); }

}  // namespace kelvor::guard_detail
