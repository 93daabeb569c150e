// The store provider's string table.
#include "card/card_connection.h"
#include "platform/resources.h"

namespace {

const platform::StringResource kStrings[] = {
    {1, "Introduzca tarjeta ORVEL"},
    {2,
     "No se ha podido encontrar ninguna tarjeta o bien no se ha podido establecer "
     "comunicación con ella."},
    {3, "Error"},
    {4,
     "No se ha podido establecer conexión con el administrador de recursos de tarjeta "
     "inteligente. Compruebe que el servicio \"Tarjeta Inteligente\" se está ejecutando "
     "correctamente."},
    {5,
     "No se ha podido establecer conexión con el administrador de recursos de tarjeta "
     "inteligente. Compruebe que la infraestructura de tarjeta inteligente está correctamente "
     "instalada en sus sistema."},
    {6,
     "El certificado no contiene claves privadas o no se han podido extraer. Asegúrese de "
     "seleccionar la opción \"Marque la clave privada como exportable\"."},
    {7,
     "El certificado utiliza algoritmos no soportados por la tarjeta ORVEL o bien utiliza "
     "claves con longitud diferente a 1024 bits... no se importará a la tarjeta."},
    {8, "Verificación de PIN"},
    {9, "Introducir PIN"},
    {10, "El certificado no está soportado... no se importará a la tarjeta."},
    {11, "Pin no válido.... no se introducirá el certificado en la tarjeta."},
    {12,
     "No se han podido introducir las claves. No se introducirá el certificado en la "
     "tarjeta."},
    {13, "Error de comunicación con la tarjeta. No se importará el certificado a la tarjeta."},
    {14, "No hay suficiente espacio en la tarjeta. No se importará el certificado a la tarjeta."},
    {15, "No se ha podido importar el certificato en la tarjeta."},
    {16,
     "Se ha detectado la importación de un certificado con claves privadas asociadas. "
     "¿Desea que el proceso se realice sobre la tarjeta Orvel?"},
    {18, "Atención"},
};

const platform::StringTableRegistration kRegistration(kStrings);

}  // namespace

// Entry 1 titles the card-selection dialog.
const UINT CardSelectionTitleId = 1;
