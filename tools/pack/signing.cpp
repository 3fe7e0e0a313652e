#include "signing.h"

#include <algorithm>
#include <cstring>

#include "certificates.h"
#include "cli.h"
#include "payload/payload.h"
#include "pe_layout.h"
#include "tool_files.h"

namespace {

// WIN_CERTIFICATE: a 4-byte length (header included), a 2-byte revision and
// a 2-byte type before the certificate itself.
constexpr std::uint32_t kWinCertificateHeader = 8;
constexpr std::uint16_t kWinCertRevision2 = 0x0200;
constexpr std::uint16_t kWinCertTypePkcsSignedData = 0x0002;
// Far more than any chain of certificates with a time stamp needs.
constexpr std::uint32_t kLargestCertificateTable = 16u << 20;

// A package's headers lie well inside its first megabyte (a stub's take
// a kilobyte).
constexpr std::size_t kHeadersRead = 1u << 20;

// Reads up to `size` bytes at `offset`; the count read.
std::size_t ReadAt(ToolFile in, std::uint64_t offset, std::uint8_t* buffer, std::size_t size) {
    if (!SeekTo(in, offset)) return 0;
    std::size_t got = 0;
    while (got < size) {
        std::int64_t n = ReadSome(in, buffer + got, size - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

// The open package, closed when the reading ends.
struct OpenPackage {
    ToolFile file;
    ~OpenPackage() {
        if (file != kNoToolFile) CloseFile(file);
    }
};

// osslsigncode's message, without its closing "Failed" and OpenSSL's error
// queue dump ("40D0...:error:..."), on one line.
std::string SignerMessage(const std::string& output) {
    std::string message;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        std::string line = output.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line == "Failed" || line.find(":error:") != std::string::npos) continue;
        message += (message.empty() ? "" : "; ") + line;
    }
    return message.empty() ? "no message" : message;
}

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.find_last_of(kPathSeparators);
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The records of a package as the installer's catalogue walk reads them.
std::vector<FileRecord> Records(const std::string& path) {
    std::vector<FileRecord> records;
    CatalogueCursor cursor;
    if (!OpenCatalogue(path.c_str(), &cursor)) return records;
    while (NextRecord(&cursor)) records.push_back(cursor.record);
    CloseCatalogue(&cursor);
    return records;
}

}  // namespace

std::string ReadPackageSignature(const std::string& path, PackageSignature* signature) {
    *signature = PackageSignature();
    OpenPackage package{OpenToRead(path)};
    FileFacts facts;
    if (package.file == kNoToolFile || !FactsOf(package.file, &facts)) return "cannot open: " + SystemProblem();
    const ToolFile in = package.file;
    const std::uint64_t fileSize = facts.size;

    // The certificate table is named by the headers, read with the tools'
    // PE reader.
    Bytes headers(static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kHeadersRead)));
    PeImage image;
    std::string problem;
    if (ReadAt(in, 0, headers.data(), headers.size()) != headers.size()) return "cannot read: " + SystemProblem();
    if (!ParsePe(headers, &image, &problem)) return "not a 32-bit PE file whose headers can be read (" + problem + ")";
    const PeDirectory& directory = image.directories[kDirSecurity];
    signature->offset = directory.virtualAddress;  // a file offset for this directory
    signature->size = directory.size;
    if (signature->size == 0) return "";
    signature->present = true;

    const std::uint64_t end = static_cast<std::uint64_t>(signature->offset) + signature->size;
    if (end > fileSize) return "its certificate table runs past the end of the file";
    if (end != fileSize) return "bytes follow its certificate table; a signature must be the last thing in the file";
    if (signature->size < kWinCertificateHeader || signature->size > kLargestCertificateTable)
        return "its certificate table's size (" + std::to_string(signature->size) + " bytes) is implausible";
    Bytes table(signature->size);
    if (ReadAt(in, signature->offset, table.data(), table.size()) != table.size())
        return "its certificate table cannot be read";
    const std::uint32_t length = ReadLe32(table, 0);
    if (length < kWinCertificateHeader || length > table.size())
        return "its first certificate's length does not fit the certificate table";
    if (ReadLe16(table, 4) != kWinCertRevision2 || ReadLe16(table, 6) != kWinCertTypePkcsSignedData)
        return "its certificate table holds no Authenticode signature (revision 2, PKCS#7 signed data)";
    const std::string der(table.begin() + kWinCertificateHeader, table.begin() + length);
    return ReadSignerNames(der, &signature->subject, &signature->issuer);
}

std::string CheckRecordsBeforeSignature(const PackageSignature& signature, const std::vector<FileRecord>& records) {
    if (!signature.present) return "";
    for (std::size_t i = 0; i < records.size(); ++i) {
        const std::uint64_t end = static_cast<std::uint64_t>(records[i].offset) + records[i].storedSize;
        if (end > signature.offset)
            return "record " + std::to_string(i) + "'s data reach into the certificate table (offset " +
                   std::to_string(signature.offset) + "), which the signature does not cover";
    }
    return "";
}

std::string CheckSignatureMatch(const std::string& path, PackageSignature* signature) {
    if (!signature->present || !FindProgram("osslsigncode")) return "";
    std::string output;
    RunCollecting({"osslsigncode", "verify", "-in", path}, &output);
    // "Current message digest    : 99DC..." and "Calculated message digest : 99DC...",
    // the latter followed by "MISMATCH!!!" when they differ; then
    // "Signature verification: ok" when the whole signature, its chain
    // included, holds.
    auto digest = [&](const std::string& label) {
        const std::size_t at = output.find(label);
        if (at == std::string::npos) return std::string();
        const std::size_t colon = output.find(':', at), end = output.find('\n', at);
        if (colon == std::string::npos || colon > end) return std::string();
        std::string value = output.substr(colon + 1, end - colon - 1);
        value.erase(0, value.find_first_not_of(' '));
        return value.substr(0, value.find_first_of(" \r"));
    };
    const std::string current = digest("Current message digest"), calculated = digest("Calculated message digest");
    if (current.empty() || calculated.empty())
        return "osslsigncode verify read no message digest from it: " + SignerMessage(output);
    signature->checked = true;
    signature->matches = current == calculated && output.find("MISMATCH") == std::string::npos;
    signature->trusted = signature->matches && output.find("Signature verification: ok") != std::string::npos;
    return "";
}

std::string SignatureLine(const PackageSignature& signature) {
    if (!signature.present) return "not signed";
    const std::string signer =
        "signed (Authenticode) by \"" + signature.subject + "\", issued by \"" + signature.issuer + "\"";
    if (!signature.checked)
        return signer + "; not checked here: whether the signature matches the file and whether the certificate is "
                        "trusted (osslsigncode verify checks both; install osslsigncode and verify checks them too)";
    if (!signature.matches) return signer + "; the signature does not match the file (osslsigncode verify)";
    return signer + "; the signature matches the file, and osslsigncode verify finds its certificate " +
           (signature.trusted ? "trusted on this machine"
                              : "not trusted on this machine (self-signed or of an authority it does not know)");
}

std::string SignerProblem() {
    if (FindProgram("osslsigncode")) return "";
    return "osslsigncode, which signs packages, is not installed (on Debian: apt-get install osslsigncode)";
}

std::string SigningProblem(const std::string& cert, const std::string& key) {
    std::string problem = SignerProblem();
    if (!problem.empty()) return problem;
    std::string certText, certificate, keyText, privateKey, label;
    if (!ReadWholeFile(cert, &certText, &problem)) return cert + ": " + problem;
    if (!ReadPemCertificate(certText, &certificate)) return cert + ": holds no PEM certificate";
    if (!ReadWholeFile(key, &keyText, &problem)) return key + ": " + problem;
    // A key protected by a passphrase is refused, not asked for.
    if (!ReadPemPrivateKey(keyText, &privateKey, &label))
        return key + ": holds no PEM private key without a passphrase";
    // A key whose public part this reader cannot see is left to osslsigncode,
    // which refuses a key that does not fit.
    if (KeyBelongsTo(certificate, privateKey, label) == KeyMatch::Differs)
        return key + ": is not the private key of the certificate in " + cert;
    return "";
}

std::string SignPackage(const SignRequest& request) {
    std::string problem = SigningProblem(request.cert, request.key);
    if (!problem.empty()) return problem;
    char message[256];
    if (!ValidatePayload(request.package.c_str(), message, sizeof message))
        return request.package + ": not a sound package: " + message;

    // osslsigncode does not write over an existing file: it writes into a
    // folder of its own beside the output, renamed into place afterwards.
    const std::string folder = MakeTemporaryFolder(FolderOf(request.output) + "/.glimmer-pack-sign");
    if (folder.empty())
        return request.output + ": cannot create a temporary folder beside it: " + SystemProblem();
    const std::string signedPath = folder + "/signed.exe";
    const int folderSlot = RemoveOnInterrupt(folder, true);
    const int fileSlot = RemoveOnInterrupt(signedPath);

    std::vector<std::string> args = {"osslsigncode", "sign", "-certs", request.cert, "-key", request.key};
    if (!request.timestamp.empty()) args.insert(args.end(), {"-ts", request.timestamp});
    args.insert(args.end(), {"-in", request.package, "-out", signedPath});
    std::string output;
    int status = RunCollecting(args, &output);
    PackageSignature signature;
    if (status != 0) {
        problem = "osslsigncode could not sign it: " + SignerMessage(output);
    } else if (!CopyPermissions(request.package, signedPath)) {
        problem = "cannot set the signed package's permissions: " + SystemProblem();
    } else if (!ValidatePayload(signedPath.c_str(), message, sizeof message)) {
        problem = std::string("the signed package does not validate: ") + message;
    } else if (!(problem = ReadPackageSignature(signedPath, &signature)).empty() || !signature.present) {
        problem = "the signed package's signature cannot be read back" + (problem.empty() ? "" : ": " + problem);
    } else if (!(problem = CheckRecordsBeforeSignature(signature, Records(signedPath))).empty()) {
    } else if (!MoveIntoPlace(signedPath, request.output)) {
        problem = "cannot rename the signed package into place: " + SystemProblem();
    }
    RemoveFile(signedPath);
    RemoveEmptyFolder(folder);
    KeepOnInterrupt(fileSlot);
    KeepOnInterrupt(folderSlot);
    return problem.empty() ? "" : request.output + ": " + problem;
}
