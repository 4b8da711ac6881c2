#include "tests/signing/softhsm_token.h"

#include <stdlib.h>

#include <stdexcept>
#include <vector>

#include "tests/signing/signing_tools.h"
#include "tests/support/file_bytes.h"

namespace vireo::test {
namespace {

namespace fs = std::filesystem;

constexpr char kSoPinVariable[] = "CORVANE_TEST_TOKEN_SO_PIN";

void Require(const ProcessResult& result, const std::string& what) {
  if (result.status != 0) {
    throw std::runtime_error(what + " failed (" + std::to_string(result.status) +
                             "): " + result.err + result.out);
  }
}

void WriteText(const fs::path& path, const std::string& text) {
  WriteFileBytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

}  // namespace

std::string SoftHsmToken::Module() { return CORVANE_SOFTHSM2_MODULE; }

std::string SoftHsmToken::KeyUri(const std::string& object) {
  return std::string("pkcs11:token=") + kLabel + ";object=" + object + ";type=private";
}

SoftHsmToken::SoftHsmToken(const fs::path& folder)
    : folder_(folder),
      root_(folder / "root.pem"),
      chain_(folder / "chain.pem"),
      foreign_(folder / "foreign.pem") {
  fs::create_directories(folder / "tokens");
  WriteText(folder / "softhsm2.conf", "directories.tokendir = " + (folder / "tokens").string() +
                                          "\nobjectstore.backend = file\nlog.level = ERROR\n");
  setenv("SOFTHSM2_CONF", (folder / "softhsm2.conf").c_str(), 1);
  setenv(kPinVariable, kPin, 1);
  setenv(kSoPinVariable, "so-PIN 8765", 1);

  const std::string user_pin = std::string("env:") + kPinVariable;
  const std::string so_pin = std::string("env:") + kSoPinVariable;
  const auto tool = [&](std::vector<std::string> arguments, const char* what) {
    arguments.insert(arguments.begin(), {"--module", Module()});
    Require(RunProgram(CORVANE_PKCS11_TOOL, arguments, folder), what);
  };
  tool({"--init-token", "--slot-index", "0", "--label", kLabel, "--so-pin", so_pin},
       "pkcs11-tool --init-token");
  tool({"--token-label", kLabel, "--login", "--login-type", "so", "--so-pin", so_pin,
        "--init-pin", "--pin", user_pin},
       "pkcs11-tool --init-pin");
  // Generated on the token: sensitive, never extractable.
  for (const char* key : {"signer:01", "stray:02"}) {
    const std::string label = std::string(key).substr(0, std::string(key).find(':'));
    const std::string id = std::string(key).substr(label.size() + 1);
    tool({"--token-label", kLabel, "--login", "--pin", user_pin, "--keypairgen", "--key-type",
          "rsa:2048", "--label", label, "--id", id, "--usage-sign", "--sensitive"},
         "pkcs11-tool --keypairgen");
  }
  tool({"--token-label", kLabel, "--login", "--pin", user_pin, "--read-object", "--type",
        "pubkey", "--id", "01", "-o", (folder / "signer-public.der").string()},
       "pkcs11-tool --read-object");

  const auto openssl = [&](const std::vector<std::string>& arguments, const char* what) {
    Require(RunProgram(CORVANE_OPENSSL, arguments, folder), what);
  };
  const std::string f = folder.string() + "/";
  WriteText(folder / "ca.ext", "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign\n");
  WriteText(folder / "signer.ext",
            "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
            "extendedKeyUsage=codeSigning\n");
  openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30", "-subj",
           "/CN=Corvane token test root", "-keyout", f + "root-key.pem", "-out", root_.string()},
          "openssl req (root)");
  openssl({"req", "-new", "-newkey", "rsa:2048", "-nodes", "-subj",
           "/CN=Corvane token test intermediate", "-keyout", f + "intermediate-key.pem", "-out",
           f + "intermediate.csr"},
          "openssl req (intermediate)");
  openssl({"x509", "-req", "-in", f + "intermediate.csr", "-CA", root_.string(), "-CAkey",
           f + "root-key.pem", "-days", "30", "-sha256", "-extfile", f + "ca.ext", "-out",
           f + "intermediate.pem"},
          "openssl x509 (intermediate)");
  openssl({"pkey", "-pubin", "-inform", "DER", "-in", f + "signer-public.der", "-out",
           f + "signer-public.pem"},
          "openssl pkey");
  const auto issue = [&](const std::string& subject, const std::string& public_key,
                         const std::string& out) {
    openssl({"x509", "-new", "-subj", subject, "-force_pubkey", public_key, "-CA",
             f + "intermediate.pem", "-CAkey", f + "intermediate-key.pem", "-days", "30",
             "-sha256", "-extfile", f + "signer.ext", "-out", out},
            "openssl x509 (signer)");
  };
  issue("/CN=Corvane token test signer", f + "signer-public.pem", f + "signer.pem");
  openssl({"genpkey", "-quiet", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out",
           f + "foreign-key.pem"},
          "openssl genpkey");
  openssl({"pkey", "-in", f + "foreign-key.pem", "-pubout", "-out", f + "foreign-public.pem"},
          "openssl pkey -pubout");
  issue("/CN=Corvane token test stranger", f + "foreign-public.pem", foreign_.string());

  std::vector<uint8_t> chain = ReadFileBytes(f + "signer.pem");
  const std::vector<uint8_t> intermediate = ReadFileBytes(f + "intermediate.pem");
  chain.insert(chain.end(), intermediate.begin(), intermediate.end());
  WriteFileBytes(chain_, chain);

  for (const char* certificate : {"signer:01", "intermediate:10"}) {
    const std::string label = std::string(certificate).substr(0, std::string(certificate).find(':'));
    const std::string id = std::string(certificate).substr(label.size() + 1);
    openssl({"x509", "-in", f + label + ".pem", "-outform", "DER", "-out", f + label + ".der"},
            "openssl x509 -outform DER");
    tool({"--token-label", kLabel, "--login", "--pin", user_pin, "--write-object",
          f + label + ".der", "--type", "cert", "--label", label, "--id", id},
         "pkcs11-tool --write-object");
  }
}

SoftHsmToken::~SoftHsmToken() {
  unsetenv(kPinVariable);
  unsetenv(kSoPinVariable);
  unsetenv("SOFTHSM2_CONF");
}

}  // namespace vireo::test
