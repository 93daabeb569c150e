// Dialog templates of the loaded modules, by instance handle.
#include "platform/dialog_template.h"

namespace platform {

ModuleResourceRegistry<DialogTemplate>& DialogTemplates() {
  static ModuleResourceRegistry<DialogTemplate> registry;
  return registry;
}

const DialogTemplate* FindDialogTemplate(HINSTANCE module, int id) {
  return DialogTemplates().Find(module, [id](const DialogTemplate& t) { return t.id == id; });
}

}  // namespace platform
