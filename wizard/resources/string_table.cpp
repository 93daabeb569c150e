// The wizard's string table.
#include "card/card_connection.h"
#include "platform/resources.h"
#include "resource_ids.h"

namespace {

const platform::StringResource kStrings[] = {
    // Caption of the wizard sheet, and the pages' header titles and subtitles.
    {IDS_SHEET_CAPTION, "Asistente para la importación de Certificados X509 a la tarjeta Orvel"},
    {IDS_FILE_TITLE, "Seleccione el fichero que desea importar"},
    {IDS_FILE_SUBTITLE,
     "Debe especificar el archivo PFX o PKCS#12 que contiene el certificado a importar."},
    {IDS_WELCOME_TITLE, "Bienvenido al asistente para la importación de certificados"},
    {IDS_PASSWORD_TITLE, "Protección por contraseña para claves privadas"},
    {IDS_PASSWORD_SUBTITLE,
     "Para mantener la seguridad, la clave privada es secreta y debe protegerse con una "
     "contraseña."},
    // Message captions.
    {IDS_CAPTION_ERROR, "Error"},
    {IDS_CAPTION_WARNING, "Atención"},
    // The file and password pages.
    {IDS_FILE_UNREADABLE, "El fichero no existe o no pudo ser abierto."},
    {IDS_NOT_PFX, "El fichero no es un PFX válido"},
    {IDS_NO_MEMORY, "No hay suficiente memoria disponible en el sistema"},
    {IDS_PASSWORD_NOT_UNICODE,
     "El password contiene carácteres no compatibles con el formato UNICODE"},
    {IDS_WRONG_PASSWORD, "La password es incorrecta"},
    // The import.
    {IDS_PFX_NOT_OPENED, "No se ha podido importar correctamente el certificado"},
    {IDS_CAPTION_INFORMATION, "Información"},
    {IDS_IMPORT_DONE,
     "La importación del certificado a la tarjeta Orvel se ha realizado correctamente."},
    {IDS_NOTHING_IMPORTED, "No se importado ningún certificado a la tarjeta"},
    // The card: the card-selection dialog's title and the connection failures.
    {IDS_CARD_SELECTION_TITLE, "Introduzca tarjeta ORVEL"},
    {IDS_NO_CARD,
     "No se ha podido encontrar ninguna tarjeta o bien no se ha podido establecer "
     "comunicación con ella."},
    {IDS_NO_CONTEXT_NT,
     "No se ha podido establecer conexión con el administrador de recursos de tarjeta "
     "inteligente. Compruebe que el servicio \"Tarjeta Inteligente\" se está ejecutando "
     "correctamente."},
    {IDS_NO_CONTEXT_OTHER,
     "No se ha podido establecer conexión con el administrador de recursos de tarjeta "
     "inteligente. Compruebe que la infraestructura de tarjeta inteligente está correctamente "
     "instalada en sus sistema."},
    // The certificate checks and the key export.
    {IDS_KEY_NOT_EXPORTED,
     "El certificado con contiene claves privadas o bien no se han podido extraer. "
     "Asegúrese de seleccionar \"marcar claves privadas como exportables\"... el "
     "certificado no se importará a la tarjeta."},
    {IDS_ALGORITHM_REFUSED,
     "El certificado utiliza algoritmos no soportados por la tarjeta ORVEL o bien utiliza "
     "claves con longitud diferente a 1024 bits... no se importará a la tarjeta."},
    {IDS_NOT_SUPPORTED, "El certificado no está soportado... no se importará a la tarjeta."},
    // Installing the key on the card.
    {IDS_INVALID_PIN, "Pin no válido.... no se introducirá el certificado en la tarjeta."},
    {IDS_KEYS_NOT_WRITTEN,
     "No se han podido introducir las claves. No se introducirá el certificado en la "
     "tarjeta."},
    {IDS_CARD_ERROR,
     "Error de comunicación con la tarjeta. No se importará el certificado a la tarjeta."},
    {IDS_CARD_FULL,
     "No hay suficiente espacio en la tarjeta. No se importará el certificado a la tarjeta."},
    {IDS_NOT_ATTACHED, "No se ha podido importar el certificato en la tarjeta."},
    // The password page.
    {IDS_EMPTY_PASSWORD, "Por favor, especifique un password válido."},
};

const platform::StringTableRegistration kRegistration(kStrings);

}  // namespace

const UINT CardSelectionTitleId = IDS_CARD_SELECTION_TITLE;
