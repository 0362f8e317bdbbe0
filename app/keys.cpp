#include "app/keys.h"

#include <algorithm>

namespace keys {
namespace {

constexpr int kPages = 2;  // "配置" and "日志"

bool is_stop(const layout::Control& c) {
  switch (c.kind) {
    case layout::Kind::Tab:
    case layout::Kind::Edit:
    case layout::Kind::Button:
    case layout::Kind::CheckBox:
      return true;
    default:
      return false;
  }
}

// A control's corner in the window: the tab control and the group box hold theirs.
struct Corner {
  int y, x;
  auto operator<=>(const Corner&) const = default;
};

Corner corner(const layout::Control& c) {
  Corner at{c.y, c.x};
  if (c.parent == layout::Parent::Main) return at;
  const layout::Control& tab = *layout::find(layout::选择夹1);
  at = {at.y + tab.y, at.x + tab.x};
  if (c.parent == layout::Parent::Tab) return at;
  const layout::Control& group = *layout::find(layout::分组框1);
  return {at.y + group.y, at.x + group.x};
}

}  // namespace

Action action(unsigned key, bool ctrl, bool shift, bool alt) {
  if (alt) return Action::kNone;
  if (key == kTab && ctrl) return shift ? Action::kPreviousPage : Action::kNextPage;
  if (key == kTab) return shift ? Action::kPreviousControl : Action::kNextControl;
  if (key == kEscape && !ctrl) return Action::kHide;
  return Action::kNone;
}

int next_page(int page, bool backward) { return (page + (backward ? kPages - 1 : 1)) % kPages; }

std::vector<layout::Id> tab_order(int page) {
  std::vector<const layout::Control*> stops;
  for (const layout::Control& c : layout::controls()) {
    if (is_stop(c) && (c.page == page || c.page < 0)) stops.push_back(&c);
  }
  std::stable_sort(
      stops.begin(), stops.end(),
      [](const layout::Control* a, const layout::Control* b) { return corner(*a) < corner(*b); });
  std::vector<layout::Id> order;
  for (const layout::Control* c : stops) order.push_back(c->id);
  return order;
}

int next_stop(int page, int from, bool backward, const std::function<bool(layout::Id)>& usable) {
  std::vector<layout::Id> order = tab_order(page);
  if (backward) std::reverse(order.begin(), order.end());
  const auto at = std::find(order.begin(), order.end(), from);
  // Start after `from`, or at the front when it is no stop here; go round once.
  const std::size_t first =
      at == order.end() ? 0 : static_cast<std::size_t>(at - order.begin()) + 1;
  for (std::size_t i = 0; i < order.size(); ++i) {
    const layout::Id id = order[(first + i) % order.size()];
    if (usable(id)) return id;
  }
  return 0;
}

}  // namespace keys
