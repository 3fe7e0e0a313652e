#include "signing.h"

#include <cstring>

#include "certificates.h"
#include "cli.h"
#include "payload/pe_format.h"
#include "payload/payload.h"
#include "tool_files.h"

namespace {

// Offsets in the optional header of its magic and of the data directory
// count, and of the first data directory for a 32-bit and a 64-bit image.
constexpr std::uint32_t kMagicPe32 = 0x10B;
constexpr std::uint32_t kMagicPe32Plus = 0x20B;
constexpr std::uint32_t kDirectoryCountPe32 = 92;
constexpr std::uint32_t kDirectoriesPe32 = 96;
constexpr std::uint32_t kDirectoryCountPe32Plus = 108;
constexpr std::uint32_t kDirectoriesPe32Plus = 112;
// The certificate table is data directory 4; its address is a file offset.
constexpr std::uint32_t kCertificateDirectory = 4;
// WIN_CERTIFICATE: a 4-byte length (header included), a 2-byte revision and
// a 2-byte type before the certificate itself.
constexpr std::uint32_t kWinCertificateHeader = 8;
constexpr std::uint16_t kWinCertRevision2 = 0x0200;
constexpr std::uint16_t kWinCertTypePkcsSignedData = 0x0002;
// Far more than any chain of certificates with a time stamp needs.
constexpr std::uint32_t kLargestCertificateTable = 16u << 20;

std::uint16_t GetU16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

std::uint32_t GetU32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Reads up to `size` bytes at `offset`; the count read.
std::size_t ReadAt(ToolFile in, std::uint64_t offset, unsigned char* buffer, std::size_t size) {
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

    unsigned char dos[kDosHeaderSize];
    unsigned char headers[kSignatureSize + kFileHeaderSize + kDirectoriesPe32Plus + 16 * 8];
    if (ReadAt(in, 0, dos, sizeof dos) != sizeof dos || dos[0] != 'M' || dos[1] != 'Z') return "not a PE file";
    const std::uint64_t lfanew = GetU32(dos + kLfanewOffset);
    // A 32-bit image's headers are shorter than a 64-bit one's; read what
    // the file holds and check the length needed once the magic is known.
    const std::size_t got = ReadAt(in, lfanew, headers, sizeof headers);
    const unsigned char* optional = headers + kSignatureSize + kFileHeaderSize;
    if (got < kSignatureSize + kFileHeaderSize + 2 || std::memcmp(headers, "PE\0\0", kSignatureSize) != 0)
        return "not a PE file";
    const std::uint16_t magic = GetU16(optional);
    if (magic != kMagicPe32 && magic != kMagicPe32Plus) return "its optional header is neither PE32 nor PE32+";
    const std::uint32_t countAt = magic == kMagicPe32 ? kDirectoryCountPe32 : kDirectoryCountPe32Plus;
    const std::uint32_t directoriesAt = magic == kMagicPe32 ? kDirectoriesPe32 : kDirectoriesPe32Plus;
    const std::size_t entryAt = kSignatureSize + kFileHeaderSize + directoriesAt + kCertificateDirectory * 8;
    if (got < kSignatureSize + kFileHeaderSize + countAt + 4) return "its optional header is cut short";
    if (GetU32(optional + countAt) <= kCertificateDirectory || got < entryAt + 8) return "";  // no such directory
    signature->offset = GetU32(headers + entryAt);
    signature->size = GetU32(headers + entryAt + 4);
    if (signature->size == 0) return "";
    signature->present = true;

    const std::uint64_t end = static_cast<std::uint64_t>(signature->offset) + signature->size;
    if (end > fileSize) return "its certificate table runs past the end of the file";
    if (end != fileSize) return "bytes follow its certificate table; a signature must be the last thing in the file";
    if (signature->size < kWinCertificateHeader || signature->size > kLargestCertificateTable)
        return "its certificate table's size (" + std::to_string(signature->size) + " bytes) is implausible";
    std::string table(signature->size, '\0');
    if (ReadAt(in, signature->offset, reinterpret_cast<unsigned char*>(table.data()), table.size()) != table.size())
        return "its certificate table cannot be read";
    const unsigned char* head = reinterpret_cast<const unsigned char*>(table.data());
    const std::uint32_t length = GetU32(head);
    if (length < kWinCertificateHeader || length > table.size())
        return "its first certificate's length does not fit the certificate table";
    if (GetU16(head + 4) != kWinCertRevision2 || GetU16(head + 6) != kWinCertTypePkcsSignedData)
        return "its certificate table holds no Authenticode signature (revision 2, PKCS#7 signed data)";
    return ReadSignerNames(table.substr(kWinCertificateHeader, length - kWinCertificateHeader), &signature->subject,
                           &signature->issuer);
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

std::string SignatureLine(const PackageSignature& signature) {
    if (!signature.present) return "not signed";
    return "signed (Authenticode) by \"" + signature.subject + "\", issued by \"" + signature.issuer +
           "\"; not checked here: whether the signature matches the file and whether the certificate is "
           "trusted (osslsigncode verify checks both)";
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
