// The toolkit's attachment and the modal dialogs it runs.
#include "platform/core/window_core.h"

using namespace wincore;

void SetWindowSystemHooks(const WindowSystemHooks *hooks) {
  Core &core = TheCore();
  std::lock_guard<std::mutex> lock(core.mutex);
  core.hooks = hooks ? *hooks : WindowSystemHooks{};
  for (auto &[thread, queue] : core.queues)
    queue->toolkitArmed = false; // a new toolkit holds no deadline yet
}

INT_PTR DialogBoxIndirectParamW(HINSTANCE inst, const DLGTEMPLATE *tmpl, HWND owner, DLGPROC proc,
                                LPARAM param) {
  WindowSystemHooks hooks;
  {
    Core &core = TheCore();
    std::lock_guard<std::mutex> lock(core.mutex);
    hooks = core.hooks;
  }
  if (!tmpl || !hooks.dialogBox)
    return -1;
  return hooks.dialogBox(inst, tmpl, owner, proc, param, hooks.context);
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  WindowSystemHooks hooks;
  {
    Core &core = TheCore();
    std::lock_guard<std::mutex> lock(core.mutex);
    hooks = core.hooks;
  }
  return hooks.endDialog ? hooks.endDialog(dialog, result, hooks.context) : FALSE;
}
