// Authenticode signatures on packages: signing through osslsigncode, and
// reading back who signed a package.
//
// A signed package is the package as built, zero-padded to a multiple of 8
// bytes, then the certificate table, which the PE header's certificate data
// directory names by file offset and size:
//
//   +--------------------------------------+  0
//   | stub (headers, sections, resources)  |
//   +--------------------------------------+  first resource's data
//   | catalogue and every entry's data     |  (record offsets are absolute)
//   +--------------------------------------+  end of the last entry
//   | 0 to 7 bytes of padding              |
//   +--------------------------------------+  certificate directory's offset
//   | WIN_CERTIFICATE: length, revision,   |
//   | type, PKCS#7 SignedData (DER)        |
//   +--------------------------------------+  end of file
//
// The installer's catalogue walk stops at the terminator record, so it never
// reads the table. The signature's digest leaves the table out, so bytes of
// an entry inside it could be changed without breaking the signature: a
// package whose records reach into the table is refused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "payload/catalogue.h"

// What the certificate table of a package holds.
struct PackageSignature {
    bool present = false;       // the certificate data directory is not empty
    std::uint32_t offset = 0;   // file offset of the certificate table
    std::uint32_t size = 0;     // its size in bytes
    std::string subject;        // the signer's certificate subject, UTF-8 ("CN = ..., O = ...")
    std::string issuer;         // and its issuer
    // Set by CheckSignatureMatch: whether osslsigncode looked at the
    // signature, whether the digest it carries is the file's, and whether
    // osslsigncode found the whole signature sound (its certificate chain
    // trusted on this machine).
    bool checked = false, matches = false, trusted = false;
};

// Reads the certificate data directory of the PE file at `path` and, when it
// is not empty, the signer of the PKCS#7 signature it holds. Returns "" on
// success (also for an unsigned file), else why the table cannot be read:
// it lies outside the file, bytes follow it, or it is not Authenticode
// signed data.
std::string ReadPackageSignature(const std::string& path, PackageSignature* signature);

// "" when every record's data end at or before the certificate table; else
// the first record that reaches into it. Always "" for an unsigned package.
std::string CheckRecordsBeforeSignature(const PackageSignature& signature, const std::vector<FileRecord>& records);

// When osslsigncode can be run, has it check a signed package's signature:
// the message digest the signature carries against the one computed from
// the file (`osslsigncode verify`). Nothing for an unsigned package or
// without osslsigncode (signature->checked stays false). "" or why
// osslsigncode gave no answer.
std::string CheckSignatureMatch(const std::string& path, PackageSignature* signature);

// One line about the signature for `verify`: who signed, and what
// osslsigncode found, or that whether the signature matches the file and
// whether the certificate is trusted was not checked.
std::string SignatureLine(const PackageSignature& signature);

// What `sign` and `build --sign-cert` need.
struct SignRequest {
    std::string package;    // the package to sign
    std::string output;     // where the signed package goes (may be `package`)
    std::string cert;       // PEM certificate (chain), the signer's first
    std::string key;        // PEM private key, not protected by a passphrase
    std::string timestamp;  // RFC 3161 time-stamping server, or ""
};

// "" when osslsigncode can be run (found along PATH), else a sentence that
// says it is missing and how to install it.
std::string SignerProblem();

// "" when osslsigncode can be run, `cert` holds a PEM certificate and `key`
// the PEM private key that belongs to it (without a passphrase); else the
// first problem. Checked before anything is written.
std::string SigningProblem(const std::string& cert, const std::string& key);

// Signs `request.package` with osslsigncode into a temporary file beside
// `request.output` and renames it into place once it reads back as a sound
// signed package; the output keeps the package's permissions. Nothing is
// left behind on failure. Returns "" or the problem, with osslsigncode's own
// message when it failed.
std::string SignPackage(const SignRequest& request);
