// glimmer-pack sign: an Authenticode signature appended to a package, made by
// osslsigncode (see signing.h).
#include <CLI/CLI.hpp>
#include <iostream>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "signing.h"

const char* const kSignHelp =
    "Usage: glimmer-pack sign -o OUT.exe --cert CERT.pem --key KEY.pem\n"
    "                         [--timestamp URL] [-q | -v] PACKAGE\n"
    "\n"
    "Signs a package with Authenticode through osslsigncode, which must be\n"
    "installed. The signature goes after the payload, as the last thing in the\n"
    "file; the installer and every command of glimmer-pack read the package as\n"
    "before. OUT.exe may be PACKAGE itself; it is written only when signing\n"
    "succeeded.\n"
    "\n"
    "  -o OUT.exe         the signed package to write\n"
    "  --cert CERT.pem    the signing certificate, then any intermediate ones (PEM)\n"
    "  --key KEY.pem      its private key (PEM, without a passphrase)\n"
    "  --timestamp URL    an RFC 3161 time-stamping server, so that the signature\n"
    "                     stays valid after the certificate expires\n";

int RunSign(const std::vector<std::string>& args) {
    SignRequest request;
    bool quiet = false, verbose = false;
    CLI::App app("sign");
    app.add_option("PACKAGE", request.package);
    app.add_option("-o,--output", request.output);
    app.add_option("--cert", request.cert);
    app.add_option("--key", request.key);
    app.add_option("--timestamp", request.timestamp);
    AddVerbosity(app, &quiet, &verbose);
    int parsed = ParseArguments(app, "sign", kSignHelp, args);
    if (parsed != kGoOn) return parsed;
    g_verbosity = quiet ? Verbosity::Quiet : verbose ? Verbosity::Verbose : Verbosity::Normal;

    std::string missing;
    const std::pair<const char*, const std::string*> required[] = {
        {"-o", &request.output}, {"--cert", &request.cert}, {"--key", &request.key}, {"PACKAGE", &request.package}};
    for (const auto& [name, value] : required)
        if (value->empty()) missing += (missing.empty() ? "" : ", ") + std::string(name);
    if (!missing.empty()) return UsageError("sign", "missing " + missing);
    if (request.output == "-")
        return UsageError("sign", "-o -: a package is a binary file and is not written to standard output; "
                                  "name a file");

    std::string problem = SignPackage(request);
    if (!problem.empty()) {
        std::cerr << "glimmer-pack: " << problem << "\n";
        return kExitFailed;
    }
    PackageSignature signature;
    ReadPackageSignature(request.output, &signature);
    Summary("signed " + request.output + " by \"" + signature.subject + "\"");
    return kExitOk;
}
