// Icons and bitmaps compiled into a module and addressed by number through
// the module's instance handle, as dialog templates are. An image is either
// an XPM image compiled into the module or a file of the Qt resource system
// compiled into it.
//
//   const platform::ImageResource kImages[] = {
//       {135, platform::ImageKind::Bitmap, nullptr, ":/wizard/bitmap135.png"}};
//   const platform::ImageResourceRegistration kRegistration(kImages);
#pragma once

#include <QPixmap>

#include <span>

#include "platform/module_resource_registry.h"
#include "platform/win32.h"

namespace platform {

enum class ImageKind { Icon, Bitmap };

struct ImageResource {
  int id;
  ImageKind kind;
  const char* const* xpm;      // an XPM image, or null
  const char* qtResourcePath;  // ":/..." when xpm is null
};

// The images of the loaded modules.
ModuleResourceRegistry<ImageResource>& ImageResources();

// Registers the images of the module holding them (found from their
// address) for the lifetime of the object.
using ImageResourceRegistration = ModuleResourceRegistration<ImageResource, ImageResources>;

// The image of that number and kind; a null pixmap when the module has none
// or it cannot be decoded. Needs the Qt application (qt_application.h).
QPixmap LoadImageResource(HINSTANCE module, int id, ImageKind kind);

}  // namespace platform
