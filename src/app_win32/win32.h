#pragma once
// The system's headers as the program includes them: <windows.h> maps the
// name LoadString to a system call, which would hide the string table's
// kelvor::LoadString, so the mapping is taken back.
#include <windows.h>

#undef LoadString
