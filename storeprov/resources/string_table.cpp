// The store provider's string table.
#include "card/card_connection.h"
#include "platform/resources.h"

namespace {

const platform::StringResource kStrings[] = {
    {1, "Introduzca tarjeta ORVEL"},
    {2, "No se ha podido encontrar ninguna tarjeta o bien no se ha podido establecer "
        "comunicación con ella."},
    {4, "No se ha podido establecer conexión con el administrador de recursos de tarjeta "
        "inteligente. Compruebe que el servicio \"Tarjeta Inteligente\" se está ejecutando "
        "correctamente."},
    {5, "No se ha podido establecer conexión con el administrador de recursos de tarjeta "
        "inteligente. Compruebe que la infraestructura de tarjeta inteligente está correctamente "
        "instalada en sus sistema."},
};

const platform::StringTableRegistration kRegistration(kStrings);

}  // namespace

// Entry 1 titles the card-selection dialog.
const UINT CardSelectionTitleId = 1;
