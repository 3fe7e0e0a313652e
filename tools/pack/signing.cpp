#include "signing.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include "payload/pe_format.h"
#include "payload/payload.h"

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

bool ReadAt(std::ifstream& in, std::uint64_t offset, unsigned char* buffer, std::size_t size) {
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(size));
    return in.gcount() == static_cast<std::streamsize>(size);
}

// A certificate name as one UTF-8 line: "CN = Name, O = Organisation".
std::string NameText(X509_NAME* name) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0,
                                   (XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB) | ASN1_STRFLGS_UTF8_CONVERT) < 0)
        return "";
    char* text = nullptr;
    long length = BIO_get_mem_data(bio.get(), &text);
    return std::string(text, static_cast<std::size_t>(length));
}

// The signer's subject and issuer from a PKCS#7 SignedData in DER.
std::string ReadSigner(const std::string& der, PackageSignature* signature) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    std::unique_ptr<PKCS7, decltype(&PKCS7_free)> p7(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())),
                                                     PKCS7_free);
    if (!p7 || !PKCS7_type_is_signed(p7.get())) return "its certificate table holds no PKCS#7 signed data";
    STACK_OF(X509)* signers = PKCS7_get0_signers(p7.get(), nullptr, 0);
    if (!signers || sk_X509_num(signers) < 1) {
        sk_X509_free(signers);
        return "its signature does not carry the signer's certificate";
    }
    X509* signer = sk_X509_value(signers, 0);
    signature->subject = NameText(X509_get_subject_name(signer));
    signature->issuer = NameText(X509_get_issuer_name(signer));
    sk_X509_free(signers);
    return "";
}

// ---- Running osslsigncode -----------------------------------------------------------

// The temporary file and folder of a signing under way, removed if it is
// interrupted, and osslsigncode while it runs, ended first so that it
// writes nothing more there.
char g_signedTemporary[4096];
char g_signFolder[4096];
volatile pid_t g_signer = 0;

// The signals that end a signing, and their handlers from before it began.
constexpr std::size_t kSignalCount = 3;
constexpr int kSignals[kSignalCount] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[kSignalCount];

void RemoveSigningAndExit(int signal) {
    if (g_signer > 0) {
        kill(g_signer, SIGKILL);
        waitpid(g_signer, nullptr, 0);
    }
    if (g_signedTemporary[0] != '\0') unlink(g_signedTemporary);
    if (g_signFolder[0] != '\0') rmdir(g_signFolder);
    // A handler from before (build's removal of its own temporary file)
    // runs next and ends the process itself.
    for (std::size_t i = 0; i < kSignalCount; ++i)
        if (kSignals[i] == signal && !(g_previous[i].sa_flags & SA_SIGINFO) &&
            g_previous[i].sa_handler != SIG_DFL && g_previous[i].sa_handler != SIG_IGN)
            g_previous[i].sa_handler(signal);
    std::_Exit(128 + signal);
}

// Removes the temporary file and folder when a signal ends the process
// during the signing, except for a signal that was ignored when it began
// (nohup), which stays ignored; puts the old handlers back when it ends.
class SigningSignals {
public:
    SigningSignals() {
        for (std::size_t i = 0; i < kSignalCount; ++i) {
            struct sigaction handler = {};
            sigaction(kSignals[i], nullptr, &g_previous[i]);
            if (g_previous[i].sa_handler == SIG_IGN) continue;
            handler.sa_handler = RemoveSigningAndExit;
            sigemptyset(&handler.sa_mask);
            sigaction(kSignals[i], &handler, nullptr);
        }
    }
    ~SigningSignals() {
        for (std::size_t i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &g_previous[i], nullptr);
    }
    SigningSignals(const SigningSignals&) = delete;
    SigningSignals& operator=(const SigningSignals&) = delete;
};

// Runs `args` (args[0] looked up along PATH) with standard input from
// /dev/null; its standard output and error are collected in *output.
// Returns its exit status, or -1 when it could not be run or was killed.
int RunCollecting(const std::vector<std::string>& args, std::string* output) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return -1;
    pid_t child = fork();
    if (child < 0) {
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        return -1;
    }
    if (child == 0) {
        int null = open("/dev/null", O_RDONLY);
        if (null >= 0) dup2(null, STDIN_FILENO);
        dup2(pipeEnds[1], STDOUT_FILENO);
        dup2(pipeEnds[1], STDERR_FILENO);
        close(pipeEnds[0]);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    g_signer = child;
    close(pipeEnds[1]);
    char buffer[4096];
    for (;;) {
        ssize_t n = read(pipeEnds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        output->append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeEnds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            g_signer = 0;
            return -1;
        }
    }
    g_signer = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

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
        if (line.empty() || line == "Failed" || line.find(":error:") != std::string::npos) continue;
        message += (message.empty() ? "" : "; ") + line;
    }
    return message.empty() ? "no message" : message;
}

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
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
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::string("cannot open: ") + std::strerror(errno);
    in.seekg(0, std::ios::end);
    const std::uint64_t fileSize = static_cast<std::uint64_t>(in.tellg());

    unsigned char dos[kDosHeaderSize];
    unsigned char headers[kSignatureSize + kFileHeaderSize + kDirectoriesPe32Plus + 16 * 8];
    if (!ReadAt(in, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return "not a PE file";
    const std::uint64_t lfanew = GetU32(dos + kLfanewOffset);
    // A 32-bit image's headers are shorter than a 64-bit one's; read what
    // the file holds and check the length needed once the magic is known.
    in.clear();
    in.seekg(static_cast<std::streamoff>(lfanew));
    in.read(reinterpret_cast<char*>(headers), sizeof headers);
    const std::size_t got = static_cast<std::size_t>(in.gcount());
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
    if (!ReadAt(in, signature->offset, reinterpret_cast<unsigned char*>(table.data()), table.size()))
        return "its certificate table cannot be read";
    const unsigned char* head = reinterpret_cast<const unsigned char*>(table.data());
    const std::uint32_t length = GetU32(head);
    if (length < kWinCertificateHeader || length > table.size())
        return "its first certificate's length does not fit the certificate table";
    if (GetU16(head + 4) != kWinCertRevision2 || GetU16(head + 6) != kWinCertTypePkcsSignedData)
        return "its certificate table holds no Authenticode signature (revision 2, PKCS#7 signed data)";
    return ReadSigner(table.substr(kWinCertificateHeader, length - kWinCertificateHeader), signature);
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
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        // An empty entry stands for the current folder.
        const std::string folder = end > start ? folders.substr(start, end - start) : std::string(".");
        if (access((folder + "/osslsigncode").c_str(), X_OK) == 0) return "";
        start = end + 1;
    }
    return "osslsigncode, which signs packages, is not installed (on Debian: apt-get install osslsigncode)";
}

std::string SigningProblem(const std::string& cert, const std::string& key) {
    std::string problem = SignerProblem();
    if (!problem.empty()) return problem;
    std::unique_ptr<BIO, decltype(&BIO_free)> certFile(BIO_new_file(cert.c_str(), "rb"), BIO_free);
    if (!certFile) return cert + ": cannot open: " + std::strerror(errno);
    std::unique_ptr<X509, decltype(&X509_free)> certificate(
        PEM_read_bio_X509(certFile.get(), nullptr, nullptr, nullptr), X509_free);
    if (!certificate) return cert + ": holds no PEM certificate";
    std::unique_ptr<BIO, decltype(&BIO_free)> keyFile(BIO_new_file(key.c_str(), "rb"), BIO_free);
    if (!keyFile) return key + ": cannot open: " + std::strerror(errno);
    // An empty passphrase callback: a protected key is refused, not asked for.
    auto noPassphrase = [](char*, int, int, void*) { return 0; };
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> privateKey(
        PEM_read_bio_PrivateKey(keyFile.get(), nullptr, noPassphrase, nullptr), EVP_PKEY_free);
    if (!privateKey) return key + ": holds no PEM private key without a passphrase";
    if (X509_check_private_key(certificate.get(), privateKey.get()) != 1)
        return key + ": is not the private key of the certificate in " + cert;
    return "";
}

std::string SignPackage(const SignRequest& request) {
    std::string problem = SigningProblem(request.cert, request.key);
    if (!problem.empty()) return problem;
    char message[256];
    if (!ValidatePayload(request.package.c_str(), message, sizeof message))
        return request.package + ": not a sound package: " + message;
    struct stat input;
    if (stat(request.package.c_str(), &input) != 0) return request.package + ": " + std::strerror(errno);

    // osslsigncode does not write over an existing file: it writes into a
    // folder of its own beside the output, renamed into place afterwards.
    std::string pattern = FolderOf(request.output) + "/.glimmer-pack-sign.XXXXXX";
    if (pattern.size() + 16 >= sizeof g_signFolder) return request.output + ": path too long";
    SigningSignals signals;
    std::memcpy(g_signFolder, pattern.c_str(), pattern.size() + 1);
    if (!mkdtemp(g_signFolder)) {
        g_signFolder[0] = '\0';
        return request.output + ": cannot create a temporary folder beside it: " + std::strerror(errno);
    }
    const std::string signedPath = std::string(g_signFolder) + "/signed.exe";
    std::memcpy(g_signedTemporary, signedPath.c_str(), signedPath.size() + 1);

    std::vector<std::string> args = {"osslsigncode", "sign", "-certs", request.cert, "-key", request.key};
    if (!request.timestamp.empty()) args.insert(args.end(), {"-ts", request.timestamp});
    args.insert(args.end(), {"-in", request.package, "-out", signedPath});
    std::string output;
    int status = RunCollecting(args, &output);
    PackageSignature signature;
    if (status != 0) {
        problem = "osslsigncode could not sign it: " + SignerMessage(output);
    } else if (chmod(signedPath.c_str(), input.st_mode & 07777) != 0) {
        problem = std::string("cannot set the signed package's permissions: ") + std::strerror(errno);
    } else if (!ValidatePayload(signedPath.c_str(), message, sizeof message)) {
        problem = std::string("the signed package does not validate: ") + message;
    } else if (!(problem = ReadPackageSignature(signedPath, &signature)).empty() || !signature.present) {
        problem = "the signed package's signature cannot be read back" + (problem.empty() ? "" : ": " + problem);
    } else if (!(problem = CheckRecordsBeforeSignature(signature, Records(signedPath))).empty()) {
    } else if (std::rename(signedPath.c_str(), request.output.c_str()) != 0) {
        problem = std::string("cannot rename the signed package into place: ") + std::strerror(errno);
    }
    unlink(g_signedTemporary);
    rmdir(g_signFolder);
    g_signedTemporary[0] = '\0';
    g_signFolder[0] = '\0';
    return problem.empty() ? "" : request.output + ": " + problem;
}
