#include "keyprep/private_key_blob.h"

#include "common/secure_wipe.h"

void PrivateKeyBlob::Wipe() { SecureWipe(m_bytes.data(), m_bytes.size()); }
