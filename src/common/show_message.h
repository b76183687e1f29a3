#pragma once
#include "common/string_table.h"
#include "common/ui_port.h"

namespace kelvor {

// Shows the string-table text `id` and waits until it is acknowledged.
void ShowMessage(UiPort& ui, StringId id);

// A stream warning: shown only when `verbose` is set.
void ShowWarning(UiPort& ui, StringId id);

}  // namespace kelvor
