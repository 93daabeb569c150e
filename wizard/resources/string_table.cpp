// The wizard's string table.
#include "card/card_connection.h"
#include "platform/resources.h"

namespace {

const platform::StringResource kStrings[] = {
    // Caption of the wizard sheet, and the pages' header titles and subtitles.
    {1, "Asistente para la importación de Certificados X509 a la tarjeta Orvel"},
    {2, "Seleccione el fichero que desea importar"},
    {3, "Debe especificar el archivo PFX o PKCS#12 que contiene el certificado a importar."},
    {4, "Bienvenido al asistente para la importación de certificados"},
    {5, "Protección por contraseña para claves privadas"},
    {6,
     "Para mantener la seguridad, la clave privada es secreta y debe protegerse con una "
     "contraseña."},
    // Message captions.
    {7, "Error"},
    {8, "Atención"},
    // The file and password pages.
    {9, "El fichero no existe o no pudo ser abierto."},
    {10, "El fichero no es un PFX válido"},
    {11, "No hay suficiente memoria disponible en el sistema"},
    {12, "El password contiene carácteres no compatibles con el formato UNICODE"},
    {13, "La password es incorrecta"},
    // The import.
    {14, "No se ha podido importar correctamente el certificado"},
    {17, "Información"},
    {18, "La importación del certificado a la tarjeta Orvel se ha realizado correctamente."},
    {19, "No se importado ningún certificado a la tarjeta"},
    // The card: the card-selection dialog's title and the connection failures.
    {22, "Introduzca tarjeta ORVEL"},
    {23,
     "No se ha podido encontrar ninguna tarjeta o bien no se ha podido establecer "
     "comunicación con ella."},
    {24,
     "No se ha podido establecer conexión con el administrador de recursos de tarjeta "
     "inteligente. Compruebe que el servicio \"Tarjeta Inteligente\" se está ejecutando "
     "correctamente."},
    {25,
     "No se ha podido establecer conexión con el administrador de recursos de tarjeta "
     "inteligente. Compruebe que la infraestructura de tarjeta inteligente está correctamente "
     "instalada en sus sistema."},
    // The certificate checks and the key export.
    {26,
     "El certificado con contiene claves privadas o bien no se han podido extraer. "
     "Asegúrese de seleccionar \"marcar claves privadas como exportables\"... el "
     "certificado no se importará a la tarjeta."},
    {27,
     "El certificado utiliza algoritmos no soportados por la tarjeta ORVEL o bien utiliza "
     "claves con longitud diferente a 1024 bits... no se importará a la tarjeta."},
    {30, "El certificado no está soportado... no se importará a la tarjeta."},
    // Installing the key on the card.
    {31, "Pin no válido.... no se introducirá el certificado en la tarjeta."},
    {32,
     "No se han podido introducir las claves. No se introducirá el certificado en la "
     "tarjeta."},
    {33, "Error de comunicación con la tarjeta. No se importará el certificado a la tarjeta."},
    {34, "No hay suficiente espacio en la tarjeta. No se importará el certificado a la tarjeta."},
    {35, "No se ha podido importar el certificato en la tarjeta."},
    // The password page.
    {36, "Por favor, especifique un password válido."},
};

const platform::StringTableRegistration kRegistration(kStrings);

}  // namespace

// Entry 22 titles the card-selection dialog.
const UINT CardSelectionTitleId = 22;
