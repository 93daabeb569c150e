// The wizard's images, compiled in as Qt resources (drawn by
// tools/draw_images.cpp): bitmap 135, the welcome page's picture; icon 128,
// the program's; icon 110, the PIN dialog's.
#include "platform/image_resources.h"
#include "resource_ids.h"

namespace {

const platform::ImageResource kImages[] = {
    {IDB_WELCOME, platform::ImageKind::Bitmap, nullptr, ":/orvel_wizard/bitmap135.png"},
    {IDR_MAINFRAME, platform::ImageKind::Icon, nullptr, ":/orvel_wizard/icon128.png"},
    {IDI_PIN, platform::ImageKind::Icon, nullptr, ":/orvel_wizard/icon110.png"},
};

const platform::ImageResourceRegistration kRegistration(kImages);

}  // namespace
