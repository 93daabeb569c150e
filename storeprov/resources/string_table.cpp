// The store provider's string table.
#include "card/card_connection.h"
#include "platform/resources.h"
#include "storeprov_resources.h"

namespace {

const platform::StringResource kStrings[] = {
    {IDS_CARD_SELECTION_TITLE, "Introduzca tarjeta ORVEL"},
    {IDS_NO_CARD,
     "No se ha podido encontrar ninguna tarjeta o bien no se ha podido establecer "
     "comunicación con ella."},
    {IDS_CAPTION_ERROR, "Error"},
    {IDS_NO_CONTEXT_NT,
     "No se ha podido establecer conexión con el administrador de recursos de tarjeta "
     "inteligente. Compruebe que el servicio \"Tarjeta Inteligente\" se está ejecutando "
     "correctamente."},
    {IDS_NO_CONTEXT_OTHER,
     "No se ha podido establecer conexión con el administrador de recursos de tarjeta "
     "inteligente. Compruebe que la infraestructura de tarjeta inteligente está correctamente "
     "instalada en sus sistema."},
    {IDS_KEY_NOT_EXPORTED,
     "El certificado no contiene claves privadas o no se han podido extraer. Asegúrese de "
     "seleccionar la opción \"Marque la clave privada como exportable\"."},
    {IDS_ALGORITHM_REFUSED,
     "El certificado utiliza algoritmos no soportados por la tarjeta ORVEL o bien utiliza "
     "claves con longitud diferente a 1024 bits... no se importará a la tarjeta."},
    {IDS_PIN_TITLE, "Verificación de PIN"},
    {IDS_PIN_PROMPT, "Introducir PIN"},
    {IDS_NOT_SUPPORTED, "El certificado no está soportado... no se importará a la tarjeta."},
    {IDS_INVALID_PIN, "Pin no válido.... no se introducirá el certificado en la tarjeta."},
    {IDS_KEYS_NOT_WRITTEN,
     "No se han podido introducir las claves. No se introducirá el certificado en la "
     "tarjeta."},
    {IDS_CARD_ERROR,
     "Error de comunicación con la tarjeta. No se importará el certificado a la tarjeta."},
    {IDS_CARD_FULL,
     "No hay suficiente espacio en la tarjeta. No se importará el certificado a la tarjeta."},
    {IDS_NOT_ATTACHED, "No se ha podido importar el certificato en la tarjeta."},
    {IDS_CARD_IMPORT_QUESTION,
     "Se ha detectado la importación de un certificado con claves privadas asociadas. "
     "¿Desea que el proceso se realice sobre la tarjeta Orvel?"},
    {IDS_CAPTION_WARNING, "Atención"},
};

const platform::StringTableRegistration kRegistration(kStrings);

}  // namespace

const UINT CardSelectionTitleId = IDS_CARD_SELECTION_TITLE;
