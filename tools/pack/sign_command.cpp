// glimmer-pack sign: an Authenticode signature appended to a package, made by
// osslsigncode (see signing.h).
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "cli.h"
#include "commands.h"
#include "signing.h"

const char* const kSignHelp =
    "Usage: glimmer-pack sign -o OUT.exe --cert CERT.pem --key KEY.pem\n"
    "                         [--timestamp URL] PACKAGE\n"
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
    std::set<std::string> given;
    bool options = true;
    std::vector<std::string> packages;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string value;
        bool missing = false, repeated = false;
        std::string which;
        auto option = [&](const char* name, std::string* field) {
            if (!options || !TakeOption(args, i, name, &value, &missing)) return false;
            which = name;
            if (missing) return true;
            repeated = !given.insert(field == &request.output ? "-o" : name).second;
            *field = value;
            return true;
        };
        if (options && args[i] == "--") {
            options = false;
        } else if (option("-o", &request.output) || option("--output", &request.output) ||
                   option("--cert", &request.cert) || option("--key", &request.key) ||
                   option("--timestamp", &request.timestamp)) {
            if (missing) return UsageError("sign: " + which + " needs a value");
            if (repeated) return UsageError("sign: " + which + " is given more than once");
        } else if (options && args[i].size() > 1 && args[i][0] == '-') {
            return UsageError("sign: unknown option '" + args[i] + "'");
        } else {
            packages.push_back(args[i]);
        }
    }
    std::string absent;
    if (request.output.empty()) absent += " -o";
    if (request.cert.empty()) absent += " --cert";
    if (request.key.empty()) absent += " --key";
    if (!absent.empty()) return UsageError("sign: required:" + absent);
    if (packages.size() != 1)
        return UsageError("sign: expected one package, got " + std::to_string(packages.size()));
    request.package = packages[0];

    std::string problem = SignPackage(request);
    if (!problem.empty()) {
        std::cerr << "glimmer-pack: " << problem << "\n";
        return kExitFailed;
    }
    return kExitOk;
}
