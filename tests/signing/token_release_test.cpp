// corvane-release with its key on a real PKCS#11 token (SoftHSM2, see
// softhsm_token.h): every way a token signer can be wrong refused before the
// build with its own message and no output file; whole releases through the
// token in one step (certificate from the token or a file, the PIN from
// standard input, a file or the environment, --nest, --timestamp) and in two
// (--prepare, osslsigncode on "the signing machine", --attach), which verify
// the same way; and every signature --attach must refuse.

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/signing/signing_tools.h"
#include "tests/signing/softhsm_token.h"
#include "tests/signing/time_stamp_authority.h"
#include "tests/support/file_bytes.h"
#include "tests/support/pe_image.h"
#include "tools/release/signed_content.h"

namespace vireo::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr char kTag[] = "appguid={8D3F1A62-5B7C-4E09-A1D4-36F2C8B95E17}&appname=Token";
constexpr int kFailed = 1;

fs::path MakeTemporaryFolder() {
  std::string pattern = (fs::temp_directory_path() / "corvane-token-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

std::string ReadText(const fs::path& path) {
  const Bytes bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// A secret file as its owner keeps it: readable by nobody else.
fs::path WriteSecret(const fs::path& path, const std::string& text, mode_t mode = 0600) {
  WriteFileBytes(path, Bytes(text.begin(), text.end()));
  fs::permissions(path, static_cast<fs::perms>(mode));
  return path;
}

// The lines of osslsigncode verify's report that say what was signed, how,
// by whom and with what result: equal for two signatures that verify the
// same way. (Signing times differ, so they are left out.)
std::multiset<std::string> VerifiedFacts(const std::string& report) {
  std::multiset<std::string> facts;
  std::istringstream lines(report);
  std::string line;
  while (std::getline(lines, line)) {
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    line = line.substr(start);
    for (const char* prefix :
         {"Message digest algorithm", "Calculated message digest", "Subject:", "Issuer :",
          "Signature verification:", "Number of verified signatures", "Text description"}) {
      if (line.rfind(prefix, 0) == 0) facts.insert(line);
    }
  }
  return facts;
}

class TokenReleaseTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new fs::path(MakeTemporaryFolder());
    fs::create_directory(*folder_ / "token");
    fs::create_directory(*folder_ / "authority");
    fs::create_directory(*folder_ / "payload");
    const std::string program = "MZ the program the stub starts\n";
    WriteFileBytes(*folder_ / "payload" / "setup.exe", Bytes(program.begin(), program.end()));
    token_ = new SoftHsmToken(*folder_ / "token");
    authority_ = new LoopbackTimeStampAuthority(*folder_ / "authority");
  }
  static void TearDownTestSuite() {
    delete authority_;
    delete token_;
    std::error_code ignored;
    fs::remove_all(*folder_, ignored);
    delete folder_;
  }

  static fs::path Path(const std::string& name) { return *folder_ / name; }

  static ProcessResult Release(const std::vector<std::string>& arguments,
                               const std::string& input = {}) {
    return RunProgramWithInput(CORVANE_RELEASE_PATH, arguments, *folder_, input);
  }

  // A one-step release through the token into `out`, followed by `more`.
  static std::vector<std::string> TokenRelease(const fs::path& out,
                                               const std::vector<std::string>& more,
                                               const std::string& key = SoftHsmToken::KeyUri()) {
    std::vector<std::string> arguments = {"--payload", Path("payload").string(), "--tag", kTag,
                                          "--out", out.string(), "--pkcs11-module",
                                          SoftHsmToken::Module(), "--key", key};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
  }

  static ProcessResult Verify(const fs::path& file, bool time_stamped) {
    std::vector<std::string> arguments = {"verify", "-CAfile", token_->root().string()};
    if (time_stamped) {
      arguments.insert(arguments.end(), {"-TSA-CAfile", authority_->certificate().string()});
    }
    arguments.insert(arguments.end(), {"-in", file.string()});
    return RunProgram(CORVANE_OSSLSIGNCODE, arguments, *folder_);
  }

  // sbverify of `file` against the test root: it hashes by the section table.
  static ProcessResult VerifyBySections(const fs::path& file) {
    return RunProgram("sbverify", {"--cert", token_->root().string(), file.string()}, *folder_);
  }

  // What "the signing machine" runs from the prepared folder's manifest:
  // osslsigncode over a data file with the token's key, the PIN on its
  // standard input.
  static ProcessResult SignElsewhere(const fs::path& data, const fs::path& signature,
                                     const std::string& hash) {
    fs::remove(signature);
    return RunProgramWithInput(
        CORVANE_OSSLSIGNCODE,
        {"sign", "-pkcs11module", SoftHsmToken::Module(), "-key", SoftHsmToken::KeyUri(),
         "-certs", token_->chain().string(), "-readpass", "-", "-h", hash, "-n",
         "CorvaneUpdateSetup", "-in", data.string(), "-out", signature.string()},
        *folder_, SoftHsmToken::kPin);
  }

  static void ExpectTagged(const fs::path& out) {
    const ProcessResult get = RunProgram(CORVANE_TAG_PATH, {"get", out.string()}, *folder_);
    EXPECT_EQ(get.out, std::string(kTag) + "\n") << get.err;
  }

  // No file the release left behind holds the PIN.
  static void ExpectPinInNoFileLeft() {
    for (const fs::path& root : {fs::path(CORVANE_RELEASE_WORK_DIR), *folder_ / "prepared"}) {
      std::error_code missing;
      if (!fs::exists(root, missing)) continue;
      for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        EXPECT_EQ(ReadText(entry.path()).find(SoftHsmToken::kPin), std::string::npos)
            << entry.path();
      }
    }
  }

  static fs::path* folder_;
  static SoftHsmToken* token_;
  static LoopbackTimeStampAuthority* authority_;
};

fs::path* TokenReleaseTest::folder_ = nullptr;
SoftHsmToken* TokenReleaseTest::token_ = nullptr;
LoopbackTimeStampAuthority* TokenReleaseTest::authority_ = nullptr;

// Each way a token signer can be wrong, alone: refused with its own message
// before the stub is built, and no output file.
TEST_F(TokenReleaseTest, EveryWrongSignerIsRefusedBeforeTheBuild) {
  const fs::path out = Path("refused.exe");
  const std::string module = SoftHsmToken::Module();
  const std::string good_pin = WriteSecret(Path("pin.txt"), std::string(SoftHsmToken::kPin) + "\n").string();
  const std::string wrong_pin = WriteSecret(Path("wrong-pin.txt"), "0000").string();
  const std::string open_pin = WriteSecret(Path("open-pin.txt"), SoftHsmToken::kPin, 0644).string();
  const std::string not_a_module = Path("payload/setup.exe").string();
  const std::string absent = "pkcs11:token=absent;object=signer;type=private";
  const std::string missing_key = SoftHsmToken::KeyUri("missing");
  const struct {
    std::vector<std::string> arguments;
    std::string message;
  } cases[] = {
      {TokenRelease(out, {"--pin-file", good_pin}, absent),
       "no token matches the key URI '" + absent + "' in '" + module +
           "' (tokens present: 'corvane-test')"},
      {TokenRelease(out, {"--pin-file", good_pin}, missing_key),
       "token 'corvane-test' holds no private key that matches '" + missing_key + "'"},
      {TokenRelease(out, {"--pin-file", wrong_pin}), "the PIN of token 'corvane-test' is wrong"},
      {TokenRelease(out, {}),
       "token 'corvane-test' needs its PIN: give it with --pin-file FILE (- for standard input) "
       "or --pin-env NAME"},
      {TokenRelease(out, {"--pin-file", good_pin, "--cert", token_->foreign_certificate().string()}),
       "the certificate /CN=Corvane token test stranger in '" +
           token_->foreign_certificate().string() +
           "' does not match the key 'signer' on token 'corvane-test'"},
      {TokenRelease(out, {"--pin-file", good_pin, "--cert", token_->chain().string()},
                    SoftHsmToken::KeyUri("stray")),
       "the certificate /CN=Corvane token test signer in '" + token_->chain().string() +
           "' does not match the key 'stray' on token 'corvane-test'"},
      {TokenRelease(out, {"--pin-file", good_pin}, SoftHsmToken::KeyUri("stray")),
       "token 'corvane-test' holds no certificate for the key 'stray' (none with its id or "
       "label): give the certificate chain with --cert FILE"},
      {TokenRelease(out, {"--pin-file", open_pin}),
       "the PIN file '" + open_pin +
           "' is open to other users (chmod 600 it, or give the PIN on standard input)"},
      {TokenRelease(out, {"--pin-env", "CORVANE_TEST_NO_SUCH_PIN"}),
       "the environment variable CORVANE_TEST_NO_SUCH_PIN is not set"},
      {{"--payload", Path("payload").string(), "--tag", kTag, "--out", out.string(),
        "--pkcs11-module", not_a_module, "--key", SoftHsmToken::KeyUri(), "--pin-file", good_pin},
       "cannot load the PKCS#11 module '" + not_a_module + "'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const ProcessResult release = Release(c.arguments);
    EXPECT_EQ(release.status, kFailed) << release.out << release.err;
    EXPECT_EQ(release.err.rfind("corvane-release: error: " + c.message, 0), 0u) << release.err;
    EXPECT_EQ(release.out.find("signing with"), std::string::npos) << release.out;
    EXPECT_FALSE(fs::exists(out));
  }
  ExpectPinInNoFileLeft();
}

// osslsigncode signs with a key on a token through OpenSSL's PKCS#11 engine, a
// package of its own: without it the release stops before the build and says
// which, where osslsigncode would fail only after it, without a reason.
TEST_F(TokenReleaseTest, AMissingPkcs11EngineIsRefusedBeforeTheBuild) {
  const fs::path out = Path("no-engine.exe");
  const fs::path engines = Path("no-engines");
  fs::create_directories(engines);
  const std::string pin =
      WriteSecret(Path("engine-pin.txt"), std::string(SoftHsmToken::kPin) + "\n").string();
  const char* before = std::getenv("OPENSSL_ENGINES");
  const std::string kept = before ? before : "";
  setenv("OPENSSL_ENGINES", engines.c_str(), 1);
  const ProcessResult release = Release(TokenRelease(out, {"--pin-file", pin}));
  if (before) {
    setenv("OPENSSL_ENGINES", kept.c_str(), 1);
  } else {
    unsetenv("OPENSSL_ENGINES");
  }
  EXPECT_EQ(release.status, kFailed) << release.out << release.err;
  EXPECT_EQ(release.err.rfind("corvane-release: error: osslsigncode signs with a key on a token "
                              "through OpenSSL's PKCS#11 engine, which is not installed (no " +
                                  (engines / "pkcs11.so").string() +
                                  "; Debian's package libengine-pkcs11-openssl has it)",
                              0),
            0u)
      << release.err;
  EXPECT_EQ(release.out.find("signing with"), std::string::npos) << release.out;
  EXPECT_FALSE(fs::exists(out));
}

// Whole releases through the token: each verifies against the test root,
// with as many signatures and time stamps as asked for, and carries its tag;
// the 64-bit stub (--arch x64) as the 32-bit one.
TEST_F(TokenReleaseTest, OneStepReleasesThroughTheTokenVerifyAndCarryTheirTag) {
  const std::string pin_file = WriteSecret(Path("pin.txt"), SoftHsmToken::kPin).string();
  const std::string root = token_->root().string();
  const struct {
    const char* name;
    std::vector<std::string> more;
    std::string input;  // standard input
    bool nest;
    bool time_stamped;
    const char* chain_from;
    uint16_t machine;
  } cases[] = {
      {"certificate from the token, PIN on standard input, nested, time-stamped",
       {"--pin-file", "-", "--nest", "--ca", root, "--timestamp", authority_->url(), "--tsa-ca",
        authority_->certificate().string()},
       SoftHsmToken::kPin,
       true,
       true,
       "the token",
       kMachineI386},
      {"certificate chain from a file, PIN from a file",
       {"--pin-file", pin_file, "--cert", token_->chain().string(), "--ca", root},
       "",
       false,
       false,
       nullptr,
       kMachineI386},
      {"certificate from the token, PIN from the environment, time-stamped",
       {"--pin-env", SoftHsmToken::kPinVariable, "--ca", root, "--timestamp", authority_->url(),
        "--tsa-ca", authority_->certificate().string()},
       "",
       false,
       true,
       "the token",
       kMachineI386},
      {"64-bit stub, certificate from the token, PIN on standard input, nested, time-stamped",
       {"--arch", "x64", "--pin-file", "-", "--nest", "--ca", root, "--timestamp",
        authority_->url(), "--tsa-ca", authority_->certificate().string()},
       SoftHsmToken::kPin,
       true,
       true,
       "the token",
       kMachineAmd64},
      {"64-bit stub, certificate from the token, PIN from the environment, time-stamped",
       {"--arch", "x64", "--pin-env", SoftHsmToken::kPinVariable, "--ca", root, "--timestamp",
        authority_->url(), "--tsa-ca", authority_->certificate().string()},
       "",
       false,
       true,
       "the token",
       kMachineAmd64},
  };
  int replies = authority_->replies();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path out = Path(std::string(c.name).substr(0, 24) + ".exe");
    const ProcessResult release = Release(TokenRelease(out, c.more), c.input);
    ASSERT_EQ(release.status, 0) << release.out << release.err;
    const Bytes written = ReadFileBytes(out);
    EXPECT_EQ(ReadLe16(written, PeHeaderOffset(written) + kMachineField), c.machine);
    const std::string chain_from = c.chain_from ? c.chain_from : token_->chain().string();
    EXPECT_NE(release.out.find("  key:       key 'signer' on token 'corvane-test' (" +
                               SoftHsmToken::Module() + "), certificate chain from " +
                               chain_from + "\n"),
              std::string::npos)
        << release.out;
    EXPECT_NE(release.out.find("  signed by: /CN=Corvane token test signer\n"), std::string::npos)
        << release.out;
    // sbverify checks SHA-256 first signatures, which are all but the nested.
    EXPECT_EQ(release.out.find(", sbverify, ") != std::string::npos, !c.nest) << release.out;
    const int signatures = c.nest ? 2 : 1;
    EXPECT_EQ(authority_->replies() - replies, c.time_stamped ? signatures : 0);
    replies = authority_->replies();
    const ProcessResult verified = Verify(out, c.time_stamped);
    EXPECT_EQ(verified.status, 0) << verified.out << verified.err;
    EXPECT_NE(verified.out.find("Number of verified signatures: " + std::to_string(signatures)),
              std::string::npos)
        << verified.out;
    if (!c.nest) {
      const ProcessResult by_sections = VerifyBySections(out);
      EXPECT_EQ(by_sections.status, 0) << by_sections.out << by_sections.err;
    }
    ExpectTagged(out);
  }
  ExpectPinInNoFileLeft();
}

// The 64-bit stub in two steps: the manifest names its processor, and the
// attached release is the 64-bit image, verified by both verifiers, tagged.
TEST_F(TokenReleaseTest, TheSixtyFourBitStubIsPreparedAndAttached) {
  const fs::path prepared = Path("prepared-x64");
  const ProcessResult prepare = Release(
      {"--prepare", prepared.string(), "--payload", Path("payload").string(), "--arch", "x64"});
  ASSERT_EQ(prepare.status, 0) << prepare.out << prepare.err;
  const std::string manifest = ReadText(prepared / "manifest.txt");
  EXPECT_NE(manifest.find("\nstub: unsigned.exe\narch: x64\nstub-sha256: "), std::string::npos)
      << manifest;
  const Bytes unsigned_stub = ReadFileBytes(prepared / "unsigned.exe");
  EXPECT_EQ(ReadLe16(unsigned_stub, PeHeaderOffset(unsigned_stub) + kMachineField),
            kMachineAmd64);

  const fs::path signature = Path("signature-x64.der");
  const ProcessResult signed_elsewhere =
      SignElsewhere(prepared / "data-sha256.der", signature, "sha256");
  ASSERT_EQ(signed_elsewhere.status, 0) << signed_elsewhere.out << signed_elsewhere.err;
  const fs::path out = Path("two-steps-x64.exe");
  const ProcessResult attached =
      Release({"--attach", signature.string(), "--prepared", prepared.string(), "--tag", kTag,
               "--out", out.string(), "--ca", token_->root().string()});
  ASSERT_EQ(attached.status, 0) << attached.out << attached.err;
  EXPECT_NE(attached.out.find("  stub:      64-bit (PE32+, x64)\n"), std::string::npos)
      << attached.out;
  const Bytes written = ReadFileBytes(out);
  EXPECT_EQ(ReadLe16(written, PeHeaderOffset(written) + kMachineField), kMachineAmd64);
  const ProcessResult verified = Verify(out, false);
  EXPECT_EQ(verified.status, 0) << verified.out << verified.err;
  const ProcessResult by_sections = VerifyBySections(out);
  EXPECT_EQ(by_sections.status, 0) << by_sections.out << by_sections.err;
  ExpectTagged(out);
}

// The two-machine flow, nested and time-stamped: the prepared folder holds
// the stub and its data, the signing machine signs the data with the same
// token, and the attached release verifies the same way as the one-step
// release of the same payload, signature for signature.
TEST_F(TokenReleaseTest, TwoStepsSignTheSameAsOneStep) {
  const fs::path prepared = Path("prepared");
  const ProcessResult prepare =
      Release({"--prepare", prepared.string(), "--payload", Path("payload").string(), "--nest"});
  ASSERT_EQ(prepare.status, 0) << prepare.out << prepare.err;
  const std::string manifest = ReadText(prepared / "manifest.txt");
  const ProcessResult stub_digest =
      RunProgram("sha256sum", {(prepared / "unsigned.exe").string()}, *folder_);
  EXPECT_NE(manifest.find("stub-sha256: " + stub_digest.out.substr(0, 64) + "\n"),
            std::string::npos)
      << manifest;
  EXPECT_NE(manifest.find("signature: sha1 data-sha1.der\nsign-sha1: osslsigncode sign "),
            std::string::npos)
      << manifest;
  EXPECT_NE(manifest.find("signature: sha256 data-sha256.der\n"), std::string::npos) << manifest;

  std::vector<std::string> attach = {"--prepared", prepared.string()};
  for (const char* hash : {"sha256", "sha1"}) {  // any order
    const fs::path signature = Path(std::string("signature-") + hash + ".der");
    const ProcessResult signed_elsewhere =
        SignElsewhere(prepared / (std::string("data-") + hash + ".der"), signature, hash);
    ASSERT_EQ(signed_elsewhere.status, 0) << signed_elsewhere.out << signed_elsewhere.err;
    attach.insert(attach.end(), {"--attach", signature.string()});
  }
  const std::vector<std::string> verification = {
      "--tag", kTag, "--ca", token_->root().string(), "--timestamp", authority_->url(),
      "--tsa-ca", authority_->certificate().string()};
  attach.insert(attach.end(), verification.begin(), verification.end());
  const fs::path two_steps = Path("two-steps.exe");
  attach.insert(attach.end(), {"--out", two_steps.string()});
  const int replies = authority_->replies();
  const ProcessResult attached = Release(attach);
  ASSERT_EQ(attached.status, 0) << attached.out << attached.err;
  EXPECT_EQ(authority_->replies() - replies, 2);
  EXPECT_NE(attached.out.find("  signature: SHA-1 with a nested SHA-256\n"), std::string::npos)
      << attached.out;
  ExpectTagged(two_steps);

  const fs::path one_step = Path("one-step.exe");
  std::vector<std::string> one = TokenRelease(one_step, {"--pin-file", "-", "--nest"});
  one.insert(one.end(), verification.begin() + 2, verification.end());
  const ProcessResult signed_here = Release(one, SoftHsmToken::kPin);
  ASSERT_EQ(signed_here.status, 0) << signed_here.out << signed_here.err;

  const ProcessResult verify_two = Verify(two_steps, true);
  const ProcessResult verify_one = Verify(one_step, true);
  EXPECT_EQ(verify_two.status, 0) << verify_two.out;
  EXPECT_EQ(verify_one.status, 0) << verify_one.out;
  EXPECT_EQ(VerifiedFacts(verify_two.out), VerifiedFacts(verify_one.out)) << verify_two.out
                                                                          << verify_one.out;
  EXPECT_EQ(VerifiedFacts(verify_two.out).count("Number of verified signatures: 2"), 1u);

  // The first signature of the one-step release covers exactly the data the
  // two-step release prepared: the stubs are the same bytes.
  const fs::path extracted = Path("one-step-signature.der");
  ASSERT_EQ(RunProgram(CORVANE_OSSLSIGNCODE,
                       {"extract-signature", "-in", one_step.string(), "-out", extracted.string()},
                       *folder_)
                .status,
            0);
  EXPECT_EQ(release::ReadSignedContent(ReadFileBytes(extracted), "one step").content,
            release::ReadSignedContent(ReadFileBytes(prepared / "data-sha1.der"), "data").content);
  ExpectPinInNoFileLeft();
}

// --attach takes only signatures that verify and cover exactly the prepared
// stub, from an unchanged folder; each refusal leaves no output file.
TEST_F(TokenReleaseTest, AttachRefusesWhatDoesNotSignThePreparedStub) {
  const fs::path prepared = Path("prepared-once");
  const ProcessResult prepare =
      Release({"--prepare", prepared.string(), "--payload", Path("payload").string()});
  ASSERT_EQ(prepare.status, 0) << prepare.out << prepare.err;
  const fs::path data = prepared / "data-sha256.der";
  const fs::path good = Path("good.der");
  ASSERT_EQ(SignElsewhere(data, good, "sha256").status, 0);

  // The data of another stub: one byte of the prepared stub's code changed.
  Bytes other_stub = ReadFileBytes(prepared / "unsigned.exe");
  other_stub[0x400] ^= 0xFF;
  WriteFileBytes(Path("other.exe"), other_stub);
  ASSERT_EQ(RunProgram(CORVANE_OSSLSIGNCODE,
                       {"extract-data", "-h", "sha256", "-in", Path("other.exe").string(), "-out",
                        Path("other-data.der").string()},
                       *folder_)
                .status,
            0);
  const fs::path other = Path("other-signature.der");
  ASSERT_EQ(SignElsewhere(Path("other-data.der"), other, "sha256").status, 0);

  // Signed from the right data by a signer the root did not certify.
  fs::create_directory(Path("stranger"));
  const TestSigner stranger = MakeTestSigner(Path("stranger"));
  const fs::path untrusted = Path("untrusted.der");
  ASSERT_EQ(RunProgram(CORVANE_OSSLSIGNCODE,
                       {"sign", "-certs", stranger.certificate.string(), "-key",
                        stranger.key.string(), "-h", "sha256", "-n", "CorvaneUpdateSetup", "-in",
                        data.string(), "-out", untrusted.string()},
                       *folder_)
                .status,
            0);
  const fs::path garbage = Path("garbage.der");
  WriteFileBytes(garbage, Bytes(64, 0x30));

  // A copy of the folder whose stub changed after it was prepared.
  const fs::path changed = Path("prepared-changed");
  fs::copy(prepared, changed);
  WriteFileBytes(changed / "unsigned.exe", other_stub);
  const fs::path empty = Path("prepared-empty");
  fs::create_directory(empty);
  // A copy whose manifest calls the 32-bit stub a 64-bit one.
  const fs::path misnamed = Path("prepared-misnamed");
  fs::copy(prepared, misnamed);
  std::string manifest = ReadText(prepared / "manifest.txt");
  manifest.insert(manifest.find("stub-sha256: "), "arch: x64\n");
  WriteFileBytes(misnamed / "manifest.txt", Bytes(manifest.begin(), manifest.end()));

  const fs::path out = Path("attached.exe");
  const struct {
    fs::path folder;
    std::vector<fs::path> signatures;
    std::string message;  // "" for a release that succeeds
  } cases[] = {
      {prepared, {other},
       "'" + other.string() + "' does not sign the prepared stub (it was made from other data than " +
           prepared.string() + "'s)"},
      {prepared, {untrusted},
       "the signature '" + untrusted.string() +
           "' does not verify on the prepared stub (a certificate from a private CA needs its "
           "root named with --ca FILE)"},
      {prepared, {garbage}, "'" + garbage.string() + "' is not a PKCS#7 signature in DER"},
      {prepared, {data}, "'" + data.string() + "' holds no signature"},
      {prepared, {good, good}, "the prepared stub takes 1 signature(s) (SHA-256), not 2"},
      {changed, {good},
       "the prepared stub '" + (changed / "unsigned.exe").string() +
           "' is not the one prepared (its SHA-256 differs from the manifest's)"},
      {empty, {good},
       "'" + empty.string() + "' holds no manifest.txt (make it with --prepare)"},
      {misnamed, {good},
       "the prepared stub '" + (misnamed / "unsigned.exe").string() +
           "' is no 64-bit (PE32+, x64) image, which its manifest names"},
      {prepared, {good}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    std::vector<std::string> arguments = {"--prepared", c.folder.string(), "--tag", kTag,
                                          "--out", out.string(), "--ca",
                                          token_->root().string()};
    for (const fs::path& signature : c.signatures) {
      arguments.insert(arguments.end(), {"--attach", signature.string()});
    }
    const ProcessResult release = Release(arguments);
    if (c.message.empty()) {
      EXPECT_EQ(release.status, 0) << release.out << release.err;
      EXPECT_EQ(Verify(out, false).status, 0);
      ExpectTagged(out);
    } else {
      EXPECT_EQ(release.status, kFailed) << release.out << release.err;
      // After osslsigncode's report, when it had one.
      EXPECT_NE(release.err.find("corvane-release: error: " + c.message), std::string::npos)
          << release.err;
      EXPECT_FALSE(fs::exists(out));
    }
  }
}

}  // namespace
}  // namespace vireo::test
