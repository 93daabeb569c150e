// The store provider's dialog templates: 101, the PIN dialog, and 108, the
// notice dialog. Positions and sizes in dialog units.
#include "platform/dialog_template.h"
#include "storeprov_resources.h"

namespace {

using namespace platform;

constexpr char kDialogFont[] = "MS Sans Serif";

const DialogControl kPinDialogControls[] = {
    {DialogControlKind::Edit, 1000, 17, 43, 123, 14, nullptr,
     kBorder | kEditPassword | kEditAutoHScroll | kTabStop, 0},
    {DialogControlKind::PushButton, 1, 17, 69, 57, 14, "OK", kTabStop, 0},
    {DialogControlKind::PushButton, 2, 83, 69, 57, 14, "Cancel", kTabStop, 0},
    {DialogControlKind::Icon, kNoControlId, 16, 17, 20, 20, nullptr, 0, kChipIconId},
    {DialogControlKind::GroupBox, kNoControlId, 7, 4, 142, 90, nullptr, 0, 0},
};

const DialogControl kNoticeDialogControls[] = {
    {DialogControlKind::DefPushButton, 1, 77, 89, 50, 14, "OK", kTabStop, 0},
    {DialogControlKind::Icon, kNoControlId, 13, 32, 21, 20, nullptr, 0, kWarningIconId},
    {DialogControlKind::Static, kNoControlId, 40, 45, 154, 34,
     "ATENCIÓN: Si especificó la opción \"Seleccionar automáticamente el almacen de "
     "certificados\", la importación se realizará sobre el registro de Windows.",
     0, 0},
    {DialogControlKind::Edit, 1003, 40, 8, 155, 32, nullptr,
     kEditMultiLine | kEditReadOnly | kTabStop, 0},
};

const DialogTemplate kTemplates[] = {
    {kPinDialogTemplateId, "Verificación de PIN", 156, 101, kDialogFont, 8, kPinDialogControls,
     kModalDialogStyle},
    {kNoticeDialogTemplateId, "Atención", 207, 117, kDialogFont, 8, kNoticeDialogControls,
     kModalDialogStyle},
};

const DialogTemplateRegistration kRegistration(kTemplates);

}  // namespace
