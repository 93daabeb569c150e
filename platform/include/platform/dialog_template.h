// Dialog templates compiled into a module and addressed by number through
// the module's instance handle, as string tables are (resources.h): a
// caption, a size, a font and controls with positions and sizes in dialog
// units. dialog_builder.h turns a template into widgets.
//
// Each module registers its templates once, from a static object beside the
// template array:
//
//   const platform::DialogTemplate kTemplates[] = {{107, ...}, {108, ...}};
//   const platform::DialogTemplateRegistration kRegistration(kTemplates);
#pragma once

#include <span>

#include "platform/module_resource_registry.h"
#include "platform/win32.h"

namespace platform {

enum class DialogControlKind {
  PushButton,
  DefPushButton,
  Edit,
  Static,  // text, wrapped at word boundaries within its rectangle
  Icon,    // shows icon resource imageId
  Bitmap,  // a picture control: shows bitmap resource imageId
  GroupBox,
};

// Control styles the templates use (the window style bits of the platform).
inline constexpr DWORD kEditMultiLine = 0x0004;    // ES_MULTILINE
inline constexpr DWORD kEditPassword = 0x0020;     // ES_PASSWORD
inline constexpr DWORD kEditAutoHScroll = 0x0080;  // ES_AUTOHSCROLL
inline constexpr DWORD kEditReadOnly = 0x0800;     // ES_READONLY
inline constexpr DWORD kTabStop = 0x00010000;      // WS_TABSTOP
inline constexpr DWORD kBorder = 0x00800000;       // WS_BORDER

// Dialog styles.
inline constexpr DWORD kDialogModalFrame = 0x00000080;  // DS_MODALFRAME
inline constexpr DWORD kDialogSetFont = 0x00000040;     // DS_SETFONT
inline constexpr DWORD kWindowChild = 0x40000000;       // WS_CHILD
inline constexpr DWORD kWindowPopup = 0x80000000;       // WS_POPUP
inline constexpr DWORD kWindowCaption = 0x00C00000;     // WS_CAPTION
inline constexpr DWORD kWindowSysMenu = 0x00080000;     // WS_SYSMENU
inline constexpr DWORD kWindowDisabled = 0x08000000;    // WS_DISABLED
// A modal dialog box: a pop-up window with a caption and a system menu, in
// the font its template names.
inline constexpr DWORD kModalDialogStyle =
    kWindowPopup | kWindowCaption | kWindowSysMenu | kDialogModalFrame | kDialogSetFont;

// Controls without an identifier.
inline constexpr int kNoControlId = -1;

struct DialogControl {
  DialogControlKind kind;
  int id;
  int x, y, cx, cy;  // dialog units; an icon's cx and cy may be 0 (its own size)
  const char* text;  // UTF-8; null for none
  DWORD style;
  int imageId;  // icon or bitmap resource of Icon and Bitmap controls
};

struct DialogTemplate {
  int id;
  const char* caption;
  int cx, cy;  // dialog units
  const char* fontFace;
  int fontPoints;
  std::span<const DialogControl> controls;
  DWORD style = 0;  // kWindowChild for property pages, kWindowPopup | ... for dialogs
};

// The templates of the loaded modules.
ModuleResourceRegistry<DialogTemplate>& DialogTemplates();

// Registers the templates of the module holding them (found from their
// address) for the lifetime of the object. The templates must outlive it.
using DialogTemplateRegistration = ModuleResourceRegistration<DialogTemplate, DialogTemplates>;

// Template id of a module; nullptr when the module has none of that number.
const DialogTemplate* FindDialogTemplate(HINSTANCE module, int id);

}  // namespace platform
