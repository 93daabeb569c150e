// Icons and bitmaps of the loaded modules, by instance handle.
#include "platform/image_resources.h"

namespace platform {

ModuleResourceRegistry<ImageResource>& ImageResources() {
  static ModuleResourceRegistry<ImageResource> registry;
  return registry;
}

QPixmap LoadImageResource(HINSTANCE module, int id, ImageKind kind) {
  const ImageResource* image = ImageResources().Find(
      module, [id, kind](const ImageResource& r) { return r.id == id && r.kind == kind; });
  if (image == nullptr) return {};
  if (image->xpm != nullptr) return QPixmap(image->xpm);
  if (image->qtResourcePath != nullptr) return QPixmap(QString::fromUtf8(image->qtResourcePath));
  return {};
}

}  // namespace platform
