// corvane-release: a signed, tagged and verified CorvaneUpdateSetup.exe built
// from a payload folder, ready for distributors.

#include <cstdio>
#include <string>
#include <vector>

#include "tools/common/tool_main.h"
#include "tools/release/release_options.h"
#include "tools/release/release_run.h"

namespace {

constexpr char kUsage[] =
    "corvane-release builds a CorvaneUpdateSetup.exe from a payload, signs it,\n"
    "tags it, checks it the way users' systems and the stub will, and only then\n"
    "writes it.\n"
    "\n"
    "Usage:\n"
    "  corvane-release --payload DIR --tag TAG --out FILE.exe\n"
    "                  [--cert FILE --key FILE | --pfx FILE] [--pass PASS] [--ca FILE]\n"
    "                  [--timestamp URL [--tsa-ca FILE]] [--nest]\n"
    "  corvane-release --help\n"
    "\n"
    "  --payload DIR      the folder (or tar file) the stub unpacks and runs\n"
    "  --tag TAG          the distributor's tag: 1 to 32,453 bytes of printable\n"
    "                     ASCII without a double quote\n"
    "  --out FILE.exe     where the finished stub goes\n"
    "  --cert, --key      the signer's certificate and key (PEM), or\n"
    "  --pfx FILE         both in a PKCS#12 file; without either, a throwaway\n"
    "                     TEST CERTIFICATE kept in the build folder signs (not for\n"
    "                     distribution: no user's system trusts it)\n"
    "  --pass PASS        the password of the key or PKCS#12 file\n"
    "  --ca FILE          the root the signature is verified against (default: the\n"
    "                     system's CA bundle, or the test certificate)\n"
    "  --timestamp URL    an RFC 3161 time-stamping authority (http:// or https://)\n"
    "                     countersigns each signature, which then stays valid after\n"
    "                     the certificate expires\n"
    "  --tsa-ca FILE      the root its time stamps are verified against\n"
    "  --nest             sign with SHA-1 first and nest a SHA-256 signature in it,\n"
    "                     for systems that know no SHA-256\n"
    "\n"
    "The stub is built with ./build.sh stub; osslsigncode signs and verifies it,\n"
    "sbverify checks a SHA-256 first signature by the section table, and the\n"
    "stub's own lookup reads the tag back. Every step's report stays in\n"
    "build/release; the output file is written only when every check passed.\n"
    "\n"
    "Exit status: 0 on success; 1 when a step failed or an option names something\n"
    "unusable; 2 for a usage error.\n";

}  // namespace

int main(int argc, char** argv) {
  return vireo::tools::RunToolMain(
      argc, argv, {"corvane-release"}, [](const std::vector<std::string>& args) {
        if (vireo::release::AsksForHelp(args)) {
          std::fputs(kUsage, stdout);
          return 0;
        }
        vireo::release::RunRelease(vireo::release::ParseReleaseOptions(args),
                                   {CORVANE_RELEASE_BUILD_SH, CORVANE_RELEASE_BUILD_DIR});
        return 0;
      });
}
