// The few facts glimmer-pack reads from certificates and keys, by a small
// reader of their DER encoding (the same code on every system, no
// cryptography library):
//
//   - who signed an Authenticode signature: the subject and issuer of the
//     signer's certificate inside the PKCS#7 SignedData, written as one line
//     the way OpenSSL writes names ("CN = Name, O = Organisation"; values
//     holding , + " \ < > ; or a leading # or space, or a trailing space,
//     are quoted; control characters, C1 ones included, become \XX of
//     their UTF-8 bytes; other text is UTF-8; a value that is not text, or
//     not validly encoded for its string type, is shown as # and the hex of
//     its encoding);
//   - whether a PEM file holds a certificate, whether another holds a
//     private key not protected by a passphrase, and whether that key
//     belongs to that certificate: their public parts are compared (RSA
//     modulus and exponent, the public point of an EC key, or the public key
//     a PKCS#8 key carries). Nothing is computed from the secret.
#pragma once

#include <string>

// The signer of the PKCS#7 SignedData `der`: the certificate whose issuer
// and serial number the first signer information names. "" or the problem:
// "its certificate table holds no PKCS#7 signed data" or "its signature
// does not carry the signer's certificate".
std::string ReadSignerNames(const std::string& der, std::string* subject, std::string* issuer);

// The DER of the first certificate in PEM text; false when there is none.
bool ReadPemCertificate(const std::string& pem, std::string* der);

// The first private key in PEM text that is not encrypted, with its PEM
// label ("PRIVATE KEY", "RSA PRIVATE KEY", "EC PRIVATE KEY", ...); false
// when there is none.
bool ReadPemPrivateKey(const std::string& pem, std::string* der, std::string* label);

// Whether the key (DER and label from ReadPemPrivateKey) belongs to the
// certificate (DER): the public parts agree, differ, or the key does not
// show its public part (a kind of key this reader does not know).
enum class KeyMatch { Belongs, Differs, CannotTell };
KeyMatch KeyBelongsTo(const std::string& certificate, const std::string& key, const std::string& label);
