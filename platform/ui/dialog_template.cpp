// Dialog templates of the loaded modules, by instance handle.
#include "platform/dialog_template.h"

#include "module_resource_registry.h"

namespace platform {
namespace {

ModuleResourceRegistry<DialogTemplate>& Templates() {
  static ModuleResourceRegistry<DialogTemplate> registry;
  return registry;
}

}  // namespace

DialogTemplateRegistration::DialogTemplateRegistration(std::span<const DialogTemplate> templates)
    : module_(Templates().Add(templates)), templates_(templates) {}

DialogTemplateRegistration::~DialogTemplateRegistration() {
  Templates().Remove(module_, templates_);
}

const DialogTemplate* FindDialogTemplate(HINSTANCE module, int id) {
  return Templates().Find(module, [id](const DialogTemplate& t) { return t.id == id; });
}

}  // namespace platform
