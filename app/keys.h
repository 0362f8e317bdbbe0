// The keys the main window answers itself, and the order Tab walks, both read from the layout
// table: the page shows its controls in reading order, so Tab follows that order whatever order
// the controls were created in.
#pragma once

#include <functional>
#include <vector>

#include "app/layout.h"

namespace keys {

// The system's virtual-key codes of the keys decided here.
inline constexpr unsigned kTab = 0x09;
inline constexpr unsigned kEscape = 0x1B;

enum class Action { kNone, kNextPage, kPreviousPage, kNextControl, kPreviousControl, kHide };

// What a key pressed with these modifiers does anywhere in the window.
Action action(unsigned key, bool ctrl, bool shift, bool alt);

// The page Ctrl+Tab (backward: Ctrl+Shift+Tab) switches to, round the tabs.
int next_page(int page, bool backward);

// The controls Tab stops at while this page is shown: the tabs first, then the page's fields,
// boxes and buttons from top to bottom and left to right as they sit in the window.
std::vector<layout::Id> tab_order(int page);

// Where Tab (backward: Shift+Tab) moves the focus from the control `from`, round the page and
// past the stops that cannot take it now (usable answers false: greyed or hidden). From no stop
// of the page (0, the window itself), Tab starts at the first stop and Shift+Tab at the last.
// 0 when no stop can take the focus.
int next_stop(int page, int from, bool backward, const std::function<bool(layout::Id)>& usable);

}  // namespace keys
