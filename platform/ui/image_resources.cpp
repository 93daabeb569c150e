// Icons and bitmaps of the loaded modules, by instance handle.
#include "platform/image_resources.h"

#include "module_resource_registry.h"

namespace platform {
namespace {

ModuleResourceRegistry<ImageResource>& Images() {
  static ModuleResourceRegistry<ImageResource> registry;
  return registry;
}

}  // namespace

ImageResourceRegistration::ImageResourceRegistration(std::span<const ImageResource> images)
    : m_module(Images().Add(images)), m_images(images) {}

ImageResourceRegistration::~ImageResourceRegistration() { Images().Remove(m_module, m_images); }

QPixmap LoadImageResource(HINSTANCE module, int id, ImageKind kind) {
  const ImageResource* image = Images().Find(
      module, [id, kind](const ImageResource& r) { return r.id == id && r.kind == kind; });
  if (image == nullptr) return {};
  if (image->xpm != nullptr) return QPixmap(image->xpm);
  if (image->qtResourcePath != nullptr) return QPixmap(QString::fromUtf8(image->qtResourcePath));
  return {};
}

}  // namespace platform
