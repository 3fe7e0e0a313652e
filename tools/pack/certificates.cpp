#include "certificates.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "package_format.h"

namespace {

// ---- DER -----------------------------------------------------------------------------

// Identifier octets used here.
constexpr unsigned kInteger = 0x02;
constexpr unsigned kBitString = 0x03;
constexpr unsigned kOctetString = 0x04;
constexpr unsigned kOid = 0x06;
constexpr unsigned kSequence = 0x30;
constexpr unsigned kSet = 0x31;
constexpr unsigned kContext0 = 0xA0;  // [0], constructed
constexpr unsigned kContext1 = 0xA1;  // [1], constructed
constexpr unsigned kImplicit1 = 0x81; // [1], primitive

// One element: its identifier octet, its contents and its whole encoding.
struct Element {
    unsigned tag = 0;
    std::string body, whole;
};

// The elements of some contents, one after the other.
struct Reader {
    const std::string* data;
    std::size_t at = 0;
    explicit Reader(const std::string& contents) : data(&contents) {}
    bool AtEnd() const { return at >= data->size(); }

    // Reads the next element (one-byte identifiers, definite lengths only).
    bool Next(Element* e) {
        const std::string& d = *data;
        const std::size_t start = at;
        if (at + 2 > d.size()) return false;
        const unsigned tag = static_cast<unsigned char>(d[at++]);
        if ((tag & 0x1F) == 0x1F) return false;
        std::size_t length = static_cast<unsigned char>(d[at++]);
        if (length & 0x80) {
            const std::size_t count = length & 0x7F;
            if (count == 0 || count > 4 || at + count > d.size()) return false;
            length = 0;
            for (std::size_t i = 0; i < count; ++i) length = length << 8 | static_cast<unsigned char>(d[at++]);
        }
        if (length > d.size() - at) return false;
        e->tag = tag;
        e->body = d.substr(at, length);
        e->whole = d.substr(start, at + length - start);
        at += length;
        return true;
    }

    // Reads the next element, which must have identifier `tag`.
    bool Take(unsigned tag, Element* e) { return Next(e) && e->tag == tag; }

    // Reads the next element when it has identifier `tag`; else leaves it.
    bool TakeIf(unsigned tag, Element* e) {
        const std::size_t before = at;
        if (Next(e) && e->tag == tag) return true;
        at = before;
        return false;
    }
};

// An object identifier in dotted form ("2.5.4.3"); false when its contents
// are not one: empty, an arc not minimally encoded or left unfinished, or
// an arc of 2^63 or more (no attribute or algorithm has one).
bool OidText(const std::string& body, std::string* text) {
    text->clear();
    std::uint64_t value = 0;
    bool first = true, start = true;
    for (unsigned char c : body) {
        if (start && c == 0x80) return false;  // a leading zero group
        if (value >> 56) return false;
        value = value << 7 | (c & 0x7F);
        start = !(c & 0x80);
        if (c & 0x80) continue;
        if (first) {
            const std::uint64_t arc = value < 40 ? 0 : value < 80 ? 1 : 2;
            *text = std::to_string(arc);
            value -= 40 * arc;
            first = false;
        }
        *text += '.';
        *text += std::to_string(value);
        value = 0;
    }
    return !text->empty() && start;
}

// ---- Names -------------------------------------------------------------------------------

// Short names of the attributes names are made of; others are shown dotted.
struct Attribute {
    const char* oid;
    const char* name;
};
const Attribute kAttributes[] = {
    {"2.5.4.3", "CN"},
    {"2.5.4.4", "SN"},
    {"2.5.4.5", "serialNumber"},
    {"2.5.4.6", "C"},
    {"2.5.4.7", "L"},
    {"2.5.4.8", "ST"},
    {"2.5.4.9", "street"},
    {"2.5.4.10", "O"},
    {"2.5.4.11", "OU"},
    {"2.5.4.12", "title"},
    {"2.5.4.13", "description"},
    {"2.5.4.15", "businessCategory"},
    {"2.5.4.17", "postalCode"},
    {"2.5.4.42", "GN"},
    {"2.5.4.43", "initials"},
    {"2.5.4.44", "generationQualifier"},
    {"2.5.4.46", "dnQualifier"},
    {"2.5.4.65", "pseudonym"},
    {"2.5.4.97", "organizationIdentifier"},
    {"1.2.840.113549.1.9.1", "emailAddress"},
    {"0.9.2342.19200300.100.1.1", "UID"},
    {"0.9.2342.19200300.100.1.25", "DC"},
    {"1.3.6.1.4.1.311.60.2.1.1", "jurisdictionL"},
    {"1.3.6.1.4.1.311.60.2.1.2", "jurisdictionST"},
    {"1.3.6.1.4.1.311.60.2.1.3", "jurisdictionC"},
};

// A code point a string may hold: not a surrogate, not beyond U+10FFFF.
bool IsCharacter(std::uint32_t c) { return c <= 0x10FFFF && !(c >= 0xD800 && c < 0xE000); }

// The characters of a string value; false for a type that is not text, or
// text not validly encoded in its type (which is then shown as bytes).
bool Characters(const Element& value, std::vector<std::uint32_t>* characters) {
    const std::string& b = value.body;
    auto byte = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(b[i])); };
    switch (value.tag) {
    case 0x0C:  // UTF8String
        for (std::size_t i = 0; i < b.size();) {
            std::uint32_t c = 0;
            if (!NextUtf8(b, &i, &c)) return false;
            characters->push_back(c);
        }
        return true;
    case 0x12: case 0x13: case 0x14: case 0x16: case 0x17: case 0x18: case 0x1A:
        // Numeric, Printable, T61, IA5, the times, Visible: one byte each.
        for (std::size_t i = 0; i < b.size(); ++i) characters->push_back(byte(i));
        return true;
    case 0x1E:  // BMPString: UCS-2, no surrogates
        if (b.size() % 2) return false;
        for (std::size_t i = 0; i < b.size(); i += 2) {
            characters->push_back(byte(i) << 8 | byte(i + 1));
            if (!IsCharacter(characters->back())) return false;
        }
        return true;
    case 0x1C:  // UniversalString: UCS-4
        if (b.size() % 4) return false;
        for (std::size_t i = 0; i < b.size(); i += 4) {
            characters->push_back(byte(i) << 24 | byte(i + 1) << 16 | byte(i + 2) << 8 | byte(i + 3));
            if (!IsCharacter(characters->back())) return false;
        }
        return true;
    }
    return false;
}

// One attribute value as text.
std::string ValueText(const Element& value) {
    std::vector<std::uint32_t> characters;
    if (!Characters(value, &characters)) {
        // Not text: its whole encoding in hexadecimal.
        std::string text = "#";
        char hex[3];
        for (unsigned char c : value.whole) {
            std::snprintf(hex, sizeof hex, "%02X", c);
            text += hex;
        }
        return text;
    }
    std::string text;
    bool quote = false;
    for (std::size_t i = 0; i < characters.size(); ++i) {
        const std::uint32_t c = characters[i];
        const bool edge = i == 0 || i + 1 == characters.size();
        if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
            // A control character, C1 ones too (U+009B alone starts a
            // terminal's control sequence): its UTF-8 bytes as \XX.
            std::string bytes;
            AppendUtf8(bytes, c);
            for (unsigned char part : bytes) {
                char hex[4];
                std::snprintf(hex, sizeof hex, "\\%02X", static_cast<unsigned>(part));
                text += hex;
            }
        } else if (c >= 0x80) {
            AppendUtf8(text, c);
        } else if (c == '"' || c == '\\') {
            text += '\\';
            text += static_cast<char>(c);
        } else {
            if (std::strchr(",+;<>", static_cast<int>(c)) || (edge && c == ' ') || (i == 0 && c == '#')) quote = true;
            text += static_cast<char>(c);
        }
    }
    return quote ? "\"" + text + "\"" : text;
}

// A Name (the contents of its SEQUENCE) as one line; false when it is not
// one.
bool NameText(const std::string& name, std::string* text) {
    text->clear();
    Reader names(name);
    Element set;
    while (!names.AtEnd()) {
        if (!names.Take(kSet, &set)) return false;
        Reader entries(set.body);
        Element entry;
        bool firstInSet = true;
        while (!entries.AtEnd()) {
            Element oid, value;
            if (!entries.Take(kSequence, &entry)) return false;
            Reader parts(entry.body);
            std::string field;
            if (!parts.Take(kOid, &oid) || !OidText(oid.body, &field) || !parts.Next(&value)) return false;
            for (const Attribute& a : kAttributes)
                if (field == a.oid) field = a.name;
            if (!text->empty()) *text += firstInSet ? ", " : " + ";
            *text += field + " = " + ValueText(value);
            firstInSet = false;
        }
    }
    return true;
}

// The parts of a certificate this reader needs.
struct Certificate {
    std::string serial;     // the serial number's contents
    std::string issuer;     // the issuer Name's contents
    std::string subject;    // the subject Name's contents
    Element algorithm;      // the public key's AlgorithmIdentifier
    std::string publicKey;  // the public key's BIT STRING contents
};

bool ReadCertificate(const std::string& der, Certificate* c) {
    Reader top(der);
    Element certificate, tbs, e;
    if (!top.Take(kSequence, &certificate)) return false;
    Reader outer(certificate.body);
    if (!outer.Take(kSequence, &tbs)) return false;
    Reader fields(tbs.body);
    fields.TakeIf(kContext0, &e);  // version
    Element serial, issuer, subject, key;
    if (!fields.Take(kInteger, &serial) || !fields.Take(kSequence, &e) || !fields.Take(kSequence, &issuer) ||
        !fields.Take(kSequence, &e) || !fields.Take(kSequence, &subject) || !fields.Take(kSequence, &key))
        return false;
    Reader keyParts(key.body);
    Element bits;
    if (!keyParts.Take(kSequence, &c->algorithm) || !keyParts.Take(kBitString, &bits)) return false;
    c->serial = serial.body;
    c->issuer = issuer.body;
    c->subject = subject.body;
    c->publicKey = bits.body;
    return true;
}

// The OID of an AlgorithmIdentifier, dotted.
std::string AlgorithmOf(const Element& algorithm) {
    Reader parts(algorithm.body);
    Element oid;
    std::string text;
    return parts.Take(kOid, &oid) && OidText(oid.body, &text) ? text : "";
}

constexpr const char* kSignedDataOid = "1.2.840.113549.1.7.2";
constexpr const char* kRsaOid = "1.2.840.113549.1.1.1";
constexpr const char* kEcOid = "1.2.840.10045.2.1";

// ---- PEM -----------------------------------------------------------------------------------

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

// The first PEM block whose label `accept` takes: its label, its header
// lines ("Name: value", joined) and its decoded contents.
template <typename Accept>
bool ReadPemBlock(const std::string& pem, Accept accept, std::string* label, std::string* headers,
                  std::string* der) {
    const std::string begin = "-----BEGIN ";
    for (std::size_t at = pem.find(begin); at != std::string::npos; at = pem.find(begin, at + 1)) {
        const std::size_t labelAt = at + begin.size();
        const std::size_t labelEnd = pem.find("-----", labelAt);
        if (labelEnd == std::string::npos) return false;
        *label = pem.substr(labelAt, labelEnd - labelAt);
        if (!accept(*label)) continue;
        const std::size_t end = pem.find("-----END " + *label + "-----", labelEnd);
        if (end == std::string::npos) continue;
        headers->clear();
        der->clear();
        std::uint32_t bits = 0;
        int count = 0;
        bool good = true;
        std::size_t line = pem.find('\n', labelEnd);
        while (good && line != std::string::npos && line < end) {
            std::size_t next = pem.find('\n', line + 1);
            const std::string text = pem.substr(line + 1, std::min(next, end) - line - 1);
            line = next;
            if (text.find(':') != std::string::npos) {
                *headers += text + "\n";
                continue;
            }
            for (char c : text) {
                if (c == ' ' || c == '\t' || c == '\r' || c == '=') continue;
                const int v = Base64Value(c);
                if (v < 0) {
                    good = false;
                    break;
                }
                bits = bits << 6 | static_cast<std::uint32_t>(v);
                if (++count == 4) {
                    *der += static_cast<char>(bits >> 16);
                    *der += static_cast<char>(bits >> 8);
                    *der += static_cast<char>(bits);
                    bits = 0;
                    count = 0;
                }
            }
        }
        if (count == 2) *der += static_cast<char>(bits >> 4);
        if (count == 3) {
            *der += static_cast<char>(bits >> 10);
            *der += static_cast<char>(bits >> 2);
        }
        if (good && count != 1) return true;
    }
    return false;
}

// The public part of an RSA key (modulus and exponent) from an RSAPublicKey
// or RSAPrivateKey; "" when it is neither.
std::string RsaPublicPart(const std::string& der, bool privateKey) {
    Reader top(der);
    Element sequence, version, modulus, exponent;
    if (!top.Take(kSequence, &sequence)) return "";
    Reader parts(sequence.body);
    if (privateKey && !parts.Take(kInteger, &version)) return "";
    if (!parts.Take(kInteger, &modulus) || !parts.Take(kInteger, &exponent)) return "";
    return modulus.whole + exponent.whole;
}

// The public point an ECPrivateKey carries; "" when it does not.
std::string EcPublicPart(const std::string& der) {
    Reader top(der);
    Element sequence, e, point;
    if (!top.Take(kSequence, &sequence)) return "";
    Reader parts(sequence.body);
    if (!parts.Take(kInteger, &e) || !parts.Take(kOctetString, &e)) return "";
    parts.TakeIf(kContext0, &e);
    if (!parts.Take(kContext1, &e)) return "";
    Reader inner(e.body);
    // The BIT STRING's bits, after the count of unused bits.
    return inner.Take(kBitString, &point) && !point.body.empty() ? point.body.substr(1) : "";
}

}  // namespace

std::string ReadSignerNames(const std::string& der, std::string* subject, std::string* issuer) {
    const std::string notSignedData = "its certificate table holds no PKCS#7 signed data";
    Reader top(der);
    Element contentInfo, oid, wrapped, signedData, e, certificates, signerInfos;
    if (!top.Take(kSequence, &contentInfo)) return notSignedData;
    Reader info(contentInfo.body);
    std::string type;
    if (!info.Take(kOid, &oid) || !OidText(oid.body, &type) || type != kSignedDataOid || !info.Take(kContext0, &wrapped))
        return notSignedData;
    Reader inner(wrapped.body);
    if (!inner.Take(kSequence, &signedData)) return notSignedData;
    Reader fields(signedData.body);
    if (!fields.Take(kInteger, &e) || !fields.Take(kSet, &e) || !fields.Take(kSequence, &e)) return notSignedData;
    const bool hasCertificates = fields.TakeIf(kContext0, &certificates);
    fields.TakeIf(kContext1, &e);  // revocation lists
    if (!fields.Take(kSet, &signerInfos)) return notSignedData;

    const std::string noSigner = "its signature does not carry the signer's certificate";
    // The first signer names its certificate by issuer and serial number.
    Reader signers(signerInfos.body);
    Element signer, id, name, serial;
    if (!signers.Take(kSequence, &signer)) return noSigner;
    Reader signerFields(signer.body);
    if (!signerFields.Take(kInteger, &e) || !signerFields.Take(kSequence, &id)) return noSigner;
    Reader idParts(id.body);
    if (!idParts.Take(kSequence, &name) || !idParts.Take(kInteger, &serial) || !hasCertificates) return noSigner;
    Reader list(certificates.body);
    Element candidate;
    while (list.Next(&candidate)) {
        Certificate c;
        if (candidate.tag != kSequence || !ReadCertificate(candidate.whole, &c)) continue;
        if (c.issuer != name.body || c.serial != serial.body) continue;
        if (!NameText(c.subject, subject) || !NameText(c.issuer, issuer)) return noSigner;
        return "";
    }
    return noSigner;
}

bool ReadPemCertificate(const std::string& pem, std::string* der) {
    std::string label, headers;
    auto certificate = [](const std::string& l) {
        return l == "CERTIFICATE" || l == "X509 CERTIFICATE" || l == "TRUSTED CERTIFICATE";
    };
    Certificate c;
    return ReadPemBlock(pem, certificate, &label, &headers, der) && ReadCertificate(*der, &c);
}

bool ReadPemPrivateKey(const std::string& pem, std::string* der, std::string* label) {
    std::string headers;
    auto key = [](const std::string& l) {
        const std::string suffix = "PRIVATE KEY";
        return l.size() >= suffix.size() && l.compare(l.size() - suffix.size(), suffix.size(), suffix) == 0 &&
               l != "ENCRYPTED PRIVATE KEY";
    };
    if (!ReadPemBlock(pem, key, label, &headers, der)) return false;
    // A traditional key protected by a passphrase says so in its headers.
    if (headers.find("ENCRYPTED") != std::string::npos) return false;
    Reader top(*der);
    Element e;
    return top.Take(kSequence, &e);
}

KeyMatch KeyBelongsTo(const std::string& certificate, const std::string& key, const std::string& label) {
    Certificate c;
    if (!ReadCertificate(certificate, &c)) return KeyMatch::CannotTell;
    const std::string certAlgorithm = AlgorithmOf(c.algorithm);
    // The certificate's key: its BIT STRING's bits, after the count of
    // unused bits.
    const std::string certKey = c.publicKey.empty() ? "" : c.publicKey.substr(1);

    std::string algorithm, inner = key, carried;
    if (label == "RSA PRIVATE KEY") {
        algorithm = kRsaOid;
    } else if (label == "EC PRIVATE KEY") {
        algorithm = kEcOid;
    } else if (label == "PRIVATE KEY") {
        // PKCS#8: version, algorithm, the key itself, attributes, and
        // (version 2) the public key.
        Reader top(key);
        Element sequence, version, algorithmId, octets, e;
        if (!top.Take(kSequence, &sequence)) return KeyMatch::CannotTell;
        Reader parts(sequence.body);
        if (!parts.Take(kInteger, &version) || !parts.Take(kSequence, &algorithmId) ||
            !parts.Take(kOctetString, &octets))
            return KeyMatch::CannotTell;
        algorithm = AlgorithmOf(algorithmId);
        inner = octets.body;
        parts.TakeIf(kContext0, &e);
        if (parts.TakeIf(kImplicit1, &e) && !e.body.empty()) carried = e.body.substr(1);
    } else {
        return KeyMatch::CannotTell;
    }
    if (algorithm != certAlgorithm) return KeyMatch::Differs;
    std::string mine;
    if (algorithm == kRsaOid) {
        mine = RsaPublicPart(inner, true);
        return mine.empty() ? KeyMatch::CannotTell
                            : mine == RsaPublicPart(certKey, false) ? KeyMatch::Belongs : KeyMatch::Differs;
    }
    mine = algorithm == kEcOid ? EcPublicPart(inner) : carried;
    if (mine.empty()) return KeyMatch::CannotTell;
    return mine == certKey ? KeyMatch::Belongs : KeyMatch::Differs;
}
