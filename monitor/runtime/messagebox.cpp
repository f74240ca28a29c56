#include "monitor/runtime/messagebox.h"

namespace rt {

Value MESSAGEBOX(const Value& owner, const Value& text, const Value& title, const Value& flags,
                 Here caller) {
  Activation self("MESSAGEBOX", caller);
  static const std::string kBadParameter = "Bad Parameter";
  uint32_t window = owner.IsNumber() ? static_cast<uint32_t>(ToInt32(owner)) : 0;
  uint32_t style = static_cast<uint32_t>(ToInt32(flags)) & 0xFFFF;
  return Os().ui.ShowMessageBox(window, text.IsText() ? text.Text() : kBadParameter,
                                title.IsText() ? title.Text() : kBadParameter, style);
}

}  // namespace rt
