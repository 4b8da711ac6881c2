// corvane-release: a signed, tagged and verified CorvaneUpdateSetup.exe built
// from a payload folder, 32-bit, 64-bit or both, ready for distributors.

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
    "                  [--arch x86|x64 | --arch both --out-x64 FILE.exe]\n"
    "  corvane-release --payload DIR --tag TAG --out FILE.exe\n"
    "                  --pkcs11-module FILE --key URI [--cert FILE]\n"
    "                  [--pin-file FILE | --pin-env NAME] [--ca FILE]\n"
    "                  [--timestamp URL [--tsa-ca FILE]] [--nest]\n"
    "                  [--arch x86|x64 | --arch both --out-x64 FILE.exe]\n"
    "  corvane-release --prepare DIR --payload DIR [--nest] [--arch x86|x64]\n"
    "  corvane-release --attach SIGNATURE [--attach SIGNATURE] --prepared DIR\n"
    "                  --tag TAG --out FILE.exe [--ca FILE] [--timestamp URL [--tsa-ca FILE]]\n"
    "  corvane-release --help\n"
    "\n"
    "  --payload DIR      the folder (or tar file) the stub unpacks and runs\n"
    "  --tag TAG          the distributor's tag: 1 to 32,453 bytes of printable\n"
    "                     ASCII without a double quote\n"
    "  --out FILE.exe     where the finished stub goes\n"
    "  --cert, --key      the signer's certificate (chain) and key (PEM), or\n"
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
    "  --arch x86|x64|both\n"
    "                     the stub(s) to make: x86, the 32-bit stub (PE32; the\n"
    "                     default), which runs on every Windows; x64, the 64-bit\n"
    "                     stub (PE32+), for x64 Windows without the 32-bit\n"
    "                     subsystem and payloads past the 32-bit limits; or both,\n"
    "                     signed with the same signer and tag. --out names the\n"
    "                     stub of the one processor asked for; with both, the\n"
    "                     32-bit one, and\n"
    "  --out-x64 FILE.exe where the 64-bit stub of --arch both goes. Both stubs\n"
    "                     are checked before either is written: when one is\n"
    "                     refused, neither file is written\n"
    "\n"
    "A key on a token (a hardware token, an HSM, a cloud key service):\n"
    "  --pkcs11-module FILE  the token's PKCS#11 module (a shared library)\n"
    "  --key URI          the key's RFC 7512 URI, as\n"
    "                     'pkcs11:token=LABEL;object=KEY;type=private'\n"
    "  --cert FILE        the certificate chain, signer first; without it, the\n"
    "                     certificate the token holds for the key (same id or\n"
    "                     label) and the issuers it holds\n"
    "  --pin-file FILE    the token's PIN, from a file only its owner can read, or\n"
    "                     from standard input with -\n"
    "  --pin-env NAME     the PIN from the environment variable NAME\n"
    "                     The PIN is never taken from the command line; it reaches\n"
    "                     osslsigncode through a pipe. Before the build, the token,\n"
    "                     the PIN and the key are checked, and the key must sign for\n"
    "                     the certificate.\n"
    "\n"
    "Signing on another machine:\n"
    "  --prepare DIR      build the stub and write it unsigned to DIR with the data\n"
    "                     to sign (data-sha256.der; with --nest also data-sha1.der)\n"
    "                     and manifest.txt: the stub's SHA-256, the hashes, and the\n"
    "                     osslsigncode command to run on the signing machine. One\n"
    "                     stub per folder: --arch x64 prepares the 64-bit stub,\n"
    "                     and the manifest says so to --attach\n"
    "  --attach SIGNATURE a signature made there from a data file (once per data\n"
    "                     file), attached to the stub in\n"
    "  --prepared DIR     the folder --prepare wrote; each signature must sign\n"
    "                     exactly that stub's data and verify, then the stub is\n"
    "                     time-stamped, tagged and verified as in one step\n"
    "\n"
    "The stub is built with ./build.sh stub (--arch x64 for the 64-bit one);\n"
    "osslsigncode signs and verifies it, sbverify checks a SHA-256 first\n"
    "signature by the section table, and the stub's own lookup reads the tag back. Every step's report stays in\n"
    "build/release (the 64-bit stub's in build/release/x64); the output file is\n"
    "written only when every check passed.\n"
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
