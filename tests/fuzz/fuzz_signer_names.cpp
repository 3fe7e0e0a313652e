// Fuzz target: glimmer-pack's reader of certificates and keys, which reads
// the certificate table of any package given to list, extract and verify.
// The input is taken as a PKCS#7 SignedData in DER, as PEM text, and as the
// DER of a certificate and of a key of each kind; each reading must end
// without a fault whatever the bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "certificates.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string subject, issuer;
    ReadSignerNames(input, &subject, &issuer);
    std::string certificate, key, label;
    const bool hasCertificate = ReadPemCertificate(input, &certificate);
    if (ReadPemPrivateKey(input, &key, &label) && hasCertificate) KeyBelongsTo(certificate, key, label);
    for (const char* kind : {"PRIVATE KEY", "RSA PRIVATE KEY", "EC PRIVATE KEY"}) KeyBelongsTo(input, input, kind);
    return 0;
}
