// The wizard's dialog templates: the three pages (133 welcome, 107 file,
// 130 password) and the PIN dialog (108). Positions and sizes in dialog
// units.
#include "platform/dialog_template.h"
#include "platform/message_box.h"
#include "resource_ids.h"

namespace {

using namespace platform;

constexpr char kFont[] = "MS Sans Serif";
constexpr char kPageCaption[] = "Asistente para la importación de certificados";
constexpr DWORD kPageStyle = kWindowChild | kDialogSetFont;

const DialogControl kWelcomeControls[] = {
    {DialogControlKind::Bitmap, kNoControlId, 13, 28, 80, 90, nullptr, 0, IDB_WELCOME},
    {DialogControlKind::Static, kNoControlId, 101, 10, 128, 34,
     "Este asistente ayuda a instalar un certificado emitido por la DRAV-NOR en la tarjeta "
     "criptográfica Orvel.",
     0, 0},
    {DialogControlKind::Static, kNoControlId, 101, 46, 128, 66,
     "Un certificado digital es la confirmación de su identidad por una Autoridad de "
     "Certificación . Los certificados continen información que se usa para autenticar una "
     "identidad, proteger información y establecer conexiones de red seguras.",
     0, 0},
    {DialogControlKind::Static, kNoControlId, 101, 114, 128, 42,
     "La tarjeta inteligente Orvel es un dispositivo seguro de firma electrónica. Protege el "
     "uso del certificado mediante PIN e impide realizar copia de las claves privadas.",
     0, 0},
};

const DialogControl kFileControls[] = {
    {DialogControlKind::Static, kNoControlId, 16, 21, 150, 8, "Nombre del archivo:", 0, 0},
    {DialogControlKind::Edit, IDC_FILE_NAME, 15, 35, 155, 14, nullptr,
     kBorder | kEditAutoHScroll | kTabStop, 0},
    {DialogControlKind::PushButton, IDC_BROWSE, 178, 35, 50, 14, "Examinar...", kTabStop, 0},
};

const DialogControl kPasswordControls[] = {
    {DialogControlKind::Static, kNoControlId, 21, 15, 205, 8,
     "Escriba la contraseña que protege el acceso a este archivo", 0, 0},
    {DialogControlKind::Static, kNoControlId, 26, 31, 150, 8, "Contraseña:", 0, 0},
    {DialogControlKind::Edit, IDC_PASSWORD, 25, 42, 174, 14, nullptr,
     kBorder | kEditAutoHScroll | kEditPassword | kTabStop, 0},
    {DialogControlKind::Static, kNoControlId, 25, 73, 176, 29,
     "Debe introducir la misma contraseña que se especificó cuando se exportó el certificado "
     "digital al archivo seleccionado.",
     0, 0},
};

const DialogControl kPinControls[] = {
    {DialogControlKind::Edit, IDC_PIN, 17, 43, 123, 14, nullptr,
     kBorder | kTabStop | kEditAutoHScroll | kEditPassword, 0},
    {DialogControlKind::PushButton, IDOK, 17, 69, 57, 14, "OK", kTabStop, 0},
    {DialogControlKind::PushButton, IDCANCEL, 83, 69, 57, 14, "Cancel", kTabStop, 0},
    {DialogControlKind::GroupBox, kNoControlId, 7, 7, 143, 90, nullptr, 0, 0},
    {DialogControlKind::Icon, kNoControlId, 15, 17, 0, 0, nullptr, 0, IDI_PIN},
    {DialogControlKind::Static, kNoControlId, 43, 22, 100, 8, "Introduca el PIN de la tarjeta:", 0,
     0},
};

const DialogTemplate kTemplates[] = {
    {IDD_WELCOME_PAGE, kPageCaption, 235, 156, kFont, 8, kWelcomeControls, kPageStyle},
    {IDD_FILE_PAGE, kPageCaption, 235, 156, kFont, 8, kFileControls, kPageStyle},
    {IDD_PASSWORD_PAGE, kPageCaption, 235, 156, kFont, 8, kPasswordControls, kPageStyle},
    {IDD_PIN_DIALOG, "Verificación de PIN de la tarjeta", 157, 103, kFont, 8, kPinControls,
     kModalDialogStyle},
};

const DialogTemplateRegistration kRegistration(kTemplates);

}  // namespace
