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
    : m_module(Templates().Add(templates)), m_templates(templates) {}

DialogTemplateRegistration::~DialogTemplateRegistration() {
  Templates().Remove(m_module, m_templates);
}

const DialogTemplate* FindDialogTemplate(HINSTANCE module, int id) {
  return Templates().Find(module, [id](const DialogTemplate& t) { return t.id == id; });
}

}  // namespace platform
