#include "common/show_message.h"

#include "common/flags.h"

namespace kelvor {

void ShowMessage(UiPort& ui, StringId id) { ui.showMessage(LoadString(id), MessageKind::Error); }

void ShowWarning(UiPort& ui, StringId id) {
  if (verbose.load(std::memory_order_relaxed)) ShowMessage(ui, id);
}

}  // namespace kelvor
