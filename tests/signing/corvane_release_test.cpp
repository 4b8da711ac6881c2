// corvane-release as a release engineer runs it: every mistake in its command
// line refused before anything is built, with its message and exit status,
// and whole releases signed by a signer of the test's own, one of them
// refused by the verifier.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/signing/signing_tools.h"
#include "tests/support/file_bytes.h"
#include "tests/support/pe_image.h"

namespace vireo::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr char kTag[] = "appguid={8D3F1A62-5B7C-4E09-A1D4-36F2C8B95E17}&appname=Release";
constexpr int kFailed = 1;
constexpr int kUsageError = 2;

// The machine field of the PE image in `file`.
uint16_t MachineOf(const fs::path& file) {
  const Bytes bytes = ReadFileBytes(file);
  return ReadLe16(bytes, PeHeaderOffset(bytes) + kMachineField);
}

fs::path MakeTemporaryFolder() {
  std::string pattern = (fs::temp_directory_path() / "corvane-release-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

class CorvaneReleaseTest : public testing::Test {
 protected:
  void SetUp() override {
    folder_ = MakeTemporaryFolder();
    fs::create_directory(folder_ / "payload");
    const std::string program = "MZ the program the stub starts\n";
    WriteFileBytes(folder_ / "payload" / "setup.exe", Bytes(program.begin(), program.end()));
    WriteFileBytes(folder_ / "present.pem", Bytes{'x'});
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  ProcessResult Release(const std::vector<std::string>& arguments) {
    return RunProgram(CORVANE_RELEASE_PATH, arguments, folder_);
  }

  // The options of a release that gets past every check, followed by `more`.
  std::vector<std::string> ValidThen(const std::vector<std::string>& more) const {
    std::vector<std::string> arguments = {"--payload", (folder_ / "payload").string(),
                                          "--tag",     kTag,
                                          "--out",     (folder_ / "out.exe").string()};
    arguments.insert(arguments.end(), more.begin(), more.end());
    return arguments;
  }

  std::string Path(const char* name) const { return (folder_ / name).string(); }

  fs::path folder_;
};

TEST_F(CorvaneReleaseTest, HelpNamesEveryOption) {
  const ProcessResult help = Release({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* option :
       {"--payload DIR", "--tag TAG", "--out FILE.exe", "--cert FILE", "--key FILE", "--pfx FILE",
        "--pass PASS", "--ca FILE", "--timestamp URL", "--tsa-ca FILE", "--nest",
        "--pkcs11-module FILE", "--key URI", "--pin-file FILE", "--pin-env NAME", "--prepare DIR",
        "--attach SIGNATURE", "--prepared DIR", "--arch x86|x64|both", "--out-x64 FILE.exe",
        "Exit status"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  EXPECT_TRUE(help.err.empty()) << help.err;
  EXPECT_EQ(Release(ValidThen({"--nest", "-h"})).out, help.out);
  // As an option's value it is that value: here a tag, refused for what follows.
  const ProcessResult tag = Release({"--tag", "--help", "--pfx", Path("missing.pfx")});
  EXPECT_EQ(tag.status, kUsageError);
  EXPECT_NE(tag.err.find("--payload DIR is required"), std::string::npos) << tag.err;
}

// Each mistake alone, in a command line otherwise valid: the status and
// message it gets, with nothing built and nothing written.
TEST_F(CorvaneReleaseTest, MistakesAreRefusedBeforeTheBuild) {
  const std::string payload = (folder_ / "payload").string();
  const std::string out = (folder_ / "out.exe").string();
  const std::string present = Path("present.pem");
  const std::string missing = Path("missing.pem");
  const std::string token_key = "pkcs11:token=release;object=signer;type=private";
  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string message;
  } cases[] = {
      // The command line itself.
      {{}, kUsageError, "--payload DIR is required (use --payload DIR"},
      {ValidThen({"--nested"}), kUsageError, "unknown option '--nested' (use --payload DIR"},
      {ValidThen({"--nest", "--timestamp"}), kUsageError, "--timestamp needs a value"},
      {{"--payload", payload, "--out", out}, kUsageError, "--tag TAG is required"},
      {{"--payload", payload, "--tag", kTag}, kUsageError, "--out FILE.exe is required"},
      {{"--payload", payload, "--tag", kTag, "--out", ""},
       kUsageError,
       "--out FILE.exe is required"},
      {ValidThen({"--pfx", present, "--cert", present}), kUsageError,
       "use either --cert and --key, or --pfx"},
      {ValidThen({"--cert", present}), kUsageError, "--cert and --key go together"},
      {ValidThen({"--key", present}), kUsageError, "--cert and --key go together"},
      {ValidThen({"--pass", "secret"}), kUsageError, "--pass goes with --pfx or --key"},
      {ValidThen({"--timestamp", "timestamp.example.com"}), kUsageError,
       "--timestamp takes the time-stamping authority's http:// or https:// URL"},
      {ValidThen({"--tsa-ca", present}), kUsageError, "--tsa-ca goes with --timestamp"},
      // A key on a token, and its PIN.
      {ValidThen({"--key", token_key}), kUsageError,
       "a key URI (--key pkcs11:...) needs --pkcs11-module FILE, the token's module"},
      {ValidThen({"--key", token_key, "--pkcs11-module", present, "--pass", "1234"}), kUsageError,
       "--pass does not go with a key on a token: give its PIN with --pin-file FILE (- for "
       "standard input) or --pin-env NAME, never on the command line"},
      {ValidThen({"--key", token_key + "?pin-value=1234", "--pkcs11-module", present}),
       kUsageError,
       "the key URI carries a PIN (pin-value or pin-source): give the PIN with --pin-file FILE or "
       "--pin-env NAME, never on the command line"},
      {ValidThen({"--key", token_key + "?pin-source=file:" + present, "--pkcs11-module", present}),
       kUsageError, "the key URI carries a PIN (pin-value or pin-source)"},
      {ValidThen({"--key", "pkcs11:token=t;object=%zz", "--pkcs11-module", present}), kUsageError,
       "the key URI 'pkcs11:token=t;object=%zz' is not a PKCS#11 URI (RFC 7512): "},
      {ValidThen({"--key", "pkcs11:token=t;object=k;type=cert", "--pkcs11-module", present}),
       kUsageError, "the key URI 'pkcs11:token=t;object=k;type=cert' names no private key"},
      {ValidThen({"--key", token_key, "--pkcs11-module", present, "--pfx", present}), kUsageError,
       "use either --pfx, or --key with its certificate"},
      {ValidThen({"--key", token_key, "--pkcs11-module", present, "--pin-file", present,
                  "--pin-env", "PIN"}),
       kUsageError, "use either --pin-file or --pin-env"},
      {ValidThen({"--pkcs11-module", present, "--cert", present, "--key", present}), kUsageError,
       "--pkcs11-module goes with a key URI (--key 'pkcs11:...')"},
      {ValidThen({"--pin-env", "PIN", "--cert", present, "--key", present}), kUsageError,
       "--pin-file and --pin-env go with a key on a token (--key 'pkcs11:...')"},
      // Signing on another machine.
      {{"--prepare", Path("prepared"), "--payload", payload, "--tag", kTag}, kUsageError,
       "--prepare takes --payload, --nest and --arch only: the signing machine signs, and "
       "--attach takes --tag, --out, --ca and --timestamp"},
      {{"--prepare", Path("prepared"), "--payload", payload, "--pfx", present}, kUsageError,
       "--prepare takes --payload, --nest and --arch only"},
      {{"--prepare", Path("prepared"), "--payload", payload, "--out-x64", Path("x64.exe")},
       kUsageError, "--prepare takes --payload, --nest and --arch only"},
      {{"--prepare", Path("prepared"), "--payload", payload, "--arch", "both"}, kUsageError,
       "--prepare makes one stub: prepare the 32-bit and the 64-bit stub (--arch x86, --arch "
       "x64) into folders of their own"},
      {{"--prepare", Path("prepared")}, kUsageError, "--payload DIR is required"},
      {{"--prepare", Path("prepared"), "--attach", present, "--prepared", folder_.string()},
       kUsageError, "--prepare makes what --attach takes back: use them in two runs"},
      {{"--attach", present, "--tag", kTag, "--out", out}, kUsageError,
       "--attach SIGNATURE and --prepared DIR go together"},
      {{"--prepared", folder_.string(), "--tag", kTag, "--out", out}, kUsageError,
       "--attach SIGNATURE and --prepared DIR go together"},
      {{"--attach", present, "--prepared", folder_.string(), "--tag", kTag, "--out", out, "--nest"},
       kUsageError,
       "--attach takes the stub and its signing from --prepared DIR: no --payload, --nest or "
       "signer"},
      {{"--attach", present, "--prepared", folder_.string(), "--tag", kTag, "--out", out,
        "--payload", payload},
       kUsageError, "--attach takes the stub and its signing from --prepared DIR"},
      {{"--attach", present, "--prepared", folder_.string(), "--out", out}, kUsageError,
       "--tag TAG is required"},
      {{"--attach", present, "--prepared", folder_.string(), "--tag", kTag, "--out", out,
        "--arch", "x64"},
       kUsageError,
       "--attach takes the stub's processor from --prepared DIR: no --arch or --out-x64"},
      // The processors, and where their stubs go.
      {ValidThen({"--arch"}), kUsageError, "--arch needs a value"},
      {ValidThen({"--arch", "arm64"}), kUsageError,
       "--arch takes x86 (the 32-bit stub), x64 (the 64-bit stub) or both, not 'arm64'"},
      {ValidThen({"--arch", "X64"}), kUsageError, "--arch takes x86 (the 32-bit stub)"},
      {ValidThen({"--out-x64", Path("x64.exe")}), kUsageError,
       "--out-x64 goes with --arch both (with one processor, --out names its stub)"},
      {ValidThen({"--arch", "x64", "--out-x64", Path("x64.exe")}), kUsageError,
       "--out-x64 goes with --arch both"},
      {ValidThen({"--arch", "both"}), kUsageError,
       "--arch both needs --out-x64 FILE.exe, where the 64-bit stub goes"},
      {ValidThen({"--arch", "both", "--out-x64", (folder_ / "." / "out.exe").string()}),
       kUsageError, "--out and --out-x64 name the same file"},
      // What the options name.
      {{"--payload", Path("no-payload"), "--tag", kTag, "--out", out},
       kFailed,
       "payload '" + Path("no-payload") + "' is neither a folder nor a tar file"},
      {{"--payload", payload, "--tag", "", "--out", out}, kFailed, "the tag is empty"},
      {{"--payload", payload, "--tag", std::string(32454, 'a'), "--out", out},
       kFailed,
       "the tag has 32454 bytes; the stub's child command line holds at most 32453"},
      {{"--payload", payload, "--tag", "a\"b", "--out", out},
       kFailed,
       "the tag contains a double quote"},
      {{"--payload", payload, "--tag", "a\tb", "--out", out},
       kFailed,
       "the tag is not printable ASCII"},
      {ValidThen({"--pfx", missing}), kFailed, "PKCS#12 file '" + missing + "' not found"},
      {ValidThen({"--cert", missing, "--key", present}), kFailed,
       "certificate '" + missing + "' not found"},
      {ValidThen({"--cert", present, "--key", missing}), kFailed,
       "key '" + missing + "' not found"},
      {ValidThen({"--ca", missing}), kFailed, "CA file '" + missing + "' not found"},
      {ValidThen({"--timestamp", "http://127.0.0.1:9", "--tsa-ca", missing}), kFailed,
       "TSA CA file '" + missing + "' not found"},
      {ValidThen({"--key", token_key, "--pkcs11-module", missing}), kFailed,
       "PKCS#11 module '" + missing + "' not found"},
      {ValidThen({"--key", token_key, "--pkcs11-module", present, "--cert", missing}), kFailed,
       "certificate '" + missing + "' not found"},
      {ValidThen({"--key", token_key, "--pkcs11-module", present, "--pin-file", missing}), kFailed,
       "PIN file '" + missing + "' not found"},
      {{"--attach", present, "--prepared", Path("no-folder"), "--tag", kTag, "--out", out},
       kFailed, "prepared folder '" + Path("no-folder") + "' not found"},
      {{"--attach", missing, "--prepared", folder_.string(), "--tag", kTag, "--out", out},
       kFailed, "signature '" + missing + "' not found"},
      {{"--attach", present, "--prepared", folder_.string(), "--tag", "a\"b", "--out", out},
       kFailed, "the tag contains a double quote"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const ProcessResult release = Release(c.arguments);
    EXPECT_EQ(release.status, c.status) << release.err;
    const std::string expected = c.status == kUsageError ? "corvane-release: " + c.message
                                                         : "corvane-release: error: " + c.message;
    EXPECT_EQ(release.err.rfind(expected, 0), 0u) << release.err;
    EXPECT_EQ(release.err.find("Try 'corvane-release --help'.") != std::string::npos,
              c.status == kUsageError)
        << release.err;
    EXPECT_TRUE(release.out.empty()) << release.out;
  }
  // The longest tag passes on to the next check.
  const ProcessResult longest = Release(
      {"--payload", payload, "--tag", std::string(32453, 'a'), "--out", out, "--pfx", missing});
  EXPECT_EQ(longest.status, kFailed);
  EXPECT_NE(longest.err.find("PKCS#12 file"), std::string::npos) << longest.err;
  EXPECT_FALSE(fs::exists(folder_ / "out.exe"));
}

// Whole releases with a signer of the test's own: one trusted through --ca,
// which is written with its summary; one whose --ca names another root, which
// the verifier refuses and which leaves no output file.
TEST_F(CorvaneReleaseTest, ReleasesOnlyWhatVerifies) {
  fs::create_directory(folder_ / "signer");
  fs::create_directory(folder_ / "stranger");
  const TestSigner signer = MakeTestSigner(folder_ / "signer");
  const TestSigner stranger = MakeTestSigner(folder_ / "stranger");

  const fs::path out = folder_ / "dist" / "CorvaneUpdateSetup.exe";
  const ProcessResult release =
      Release({"--payload", (folder_ / "payload").string(), "--tag", kTag, "--out", out.string(),
               "--cert", signer.certificate.string(), "--key", signer.key.string(), "--ca",
               signer.certificate.string()});
  ASSERT_EQ(release.status, 0) << release.out << release.err;
  ASSERT_TRUE(fs::exists(out));
  const std::string summary = release.out.substr(release.out.find("==> release stub ready"));
  const std::string expected_lines[] = {
      "  file:      " + out.string() + " (" + std::to_string(fs::file_size(out)) + " bytes)\n",
      "  stub:      32-bit (PE32, x86)\n",
      "  signed by: /CN=Corvane tagging test signer\n",
      "  signature: SHA-256\n",
      "  timestamp: none (the signature expires with the certificate)\n",
      std::string("  tag:       ") + kTag + "\n",
      "  verified:  osslsigncode verify (trusting " + signer.certificate.string() +
          "), sbverify, corvane-tag get\n",
  };
  for (const std::string& line : expected_lines) {
    EXPECT_NE(summary.find(line), std::string::npos) << line << "\n" << summary;
  }
  EXPECT_EQ(summary.find("TEST CERTIFICATE"), std::string::npos) << summary;
  EXPECT_NE(release.out.find("==> signing with SHA-256\033[0m\n"), std::string::npos)
      << release.out;
  EXPECT_NE(release.out.find("tagged.exe: tag set (" + std::to_string(sizeof kTag - 1) + " bytes"),
            std::string::npos)
      << release.out;
  // The file written is the one that verified, and the stub reads the tag.
  EXPECT_EQ(MachineOf(out), kMachineI386);
  EXPECT_EQ(VerifySignature(out, signer, folder_).status, 0);
  const ProcessResult get = RunProgram(CORVANE_TAG_PATH, {"get", out.string()}, folder_);
  EXPECT_EQ(get.out, std::string(kTag) + "\n");

  const fs::path refused_out = folder_ / "refused.exe";
  const ProcessResult refused =
      Release({"--payload", (folder_ / "payload").string(), "--tag", kTag, "--out",
               refused_out.string(), "--cert", signer.certificate.string(), "--key",
               signer.key.string(), "--ca", stranger.certificate.string()});
  EXPECT_EQ(refused.status, kFailed);
  EXPECT_NE(refused.err.find("corvane-release: error: the tagged stub's signature does not "
                             "verify (a certificate from a private CA needs its root named "
                             "with --ca FILE)"),
            std::string::npos)
      << refused.err;
  EXPECT_FALSE(fs::exists(refused_out));
}

// The 64-bit stub alone, and both stubs from one run, signed with a key
// file: each file is its processor's image, verifies by both verifiers and
// carries the tag. Where the verifier refuses, neither file is written.
TEST_F(CorvaneReleaseTest, ReleasesEitherStubOrBoth) {
  fs::create_directory(folder_ / "signer");
  fs::create_directory(folder_ / "stranger");
  const TestSigner signer = MakeTestSigner(folder_ / "signer");
  const TestSigner stranger = MakeTestSigner(folder_ / "stranger");
  const fs::path alone = folder_ / "x64" / "CorvaneUpdateSetup.exe";
  const fs::path x86 = folder_ / "both" / "CorvaneUpdateSetup.exe";
  const fs::path x64 = folder_ / "both" / "x64" / "CorvaneUpdateSetup.exe";
  const struct {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::pair<fs::path, uint16_t>> outputs;  // each file and its machine
    std::vector<std::string> lines;                      // in the run's output
  } cases[] = {
      {"x64",
       {"--arch", "x64", "--out", alone.string()},
       {{alone, kMachineAmd64}},
       {"==> signing the 64-bit (PE32+, x64) stub with SHA-256\033[0m\n",
        "==> release stub ready\033[0m\n  file:      " + alone.string(),
        "  stub:      64-bit (PE32+, x64)\n  sha256:    ",
        ", sbverify, corvane-tag get\n"}},
      {"both",
       {"--arch", "both", "--out", x86.string(), "--out-x64", x64.string()},
       {{x86, kMachineI386}, {x64, kMachineAmd64}},
       {"==> signing the 32-bit (PE32, x86) stub with SHA-256\033[0m\n",
        "==> signing the 64-bit (PE32+, x64) stub with SHA-256\033[0m\n",
        "==> release stubs ready\033[0m\n  file:      " + x86.string(),
        "  stub:      32-bit (PE32, x86)\n  sha256:    ", "\n  file:      " + x64.string(),
        "  stub:      64-bit (PE32+, x64)\n  sha256:    "}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> arguments = {"--payload", (folder_ / "payload").string(), "--tag",
                                          kTag,        "--cert", signer.certificate.string(),
                                          "--key",     signer.key.string(), "--ca",
                                          signer.certificate.string()};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const ProcessResult release = Release(arguments);
    ASSERT_EQ(release.status, 0) << release.out << release.err;
    for (const std::string& line : c.lines) {
      EXPECT_NE(release.out.find(line), std::string::npos) << line << "\n" << release.out;
    }
    for (const auto& [file, machine] : c.outputs) {
      SCOPED_TRACE(file.string());
      ASSERT_TRUE(fs::exists(file));
      EXPECT_EQ(MachineOf(file), machine);
      const ProcessResult verified = VerifySignature(file, signer, folder_);
      EXPECT_EQ(verified.status, 0) << verified.out << verified.err;
      const ProcessResult by_sections = VerifyBySections(file, signer, folder_);
      EXPECT_EQ(by_sections.status, 0) << by_sections.out << by_sections.err;
      const ProcessResult get = RunProgram(CORVANE_TAG_PATH, {"get", file.string()}, folder_);
      EXPECT_EQ(get.out, std::string(kTag) + "\n") << get.err;
    }
  }

  const fs::path refused_x86 = folder_ / "refused.exe";
  const fs::path refused_x64 = folder_ / "refused-x64.exe";
  const ProcessResult refused = Release(
      {"--payload", (folder_ / "payload").string(), "--tag", kTag, "--out", refused_x86.string(),
       "--out-x64", refused_x64.string(), "--arch", "both", "--cert", signer.certificate.string(),
       "--key", signer.key.string(), "--ca", stranger.certificate.string()});
  EXPECT_EQ(refused.status, kFailed);
  EXPECT_NE(refused.err.find("corvane-release: error: the tagged 32-bit (PE32, x86) stub's "
                             "signature does not verify"),
            std::string::npos)
      << refused.err;
  EXPECT_FALSE(fs::exists(refused_x86));
  EXPECT_FALSE(fs::exists(refused_x64));

  // Both stubs pass, but the 64-bit one's folder cannot be made (a file has
  // its name): the 32-bit one is not written either.
  WriteFileBytes(folder_ / "taken", Bytes{'x'});
  const fs::path blocked_x64 = folder_ / "taken" / "CorvaneUpdateSetup.exe";
  const ProcessResult blocked = Release(
      {"--payload", (folder_ / "payload").string(), "--tag", kTag, "--out", refused_x86.string(),
       "--out-x64", blocked_x64.string(), "--arch", "both", "--cert", signer.certificate.string(),
       "--key", signer.key.string(), "--ca", signer.certificate.string()});
  EXPECT_EQ(blocked.status, kFailed) << blocked.out << blocked.err;
  EXPECT_NE(blocked.out.find("==> verifying the 64-bit (PE32+, x64) stub"), std::string::npos)
      << blocked.out;
  EXPECT_FALSE(fs::exists(refused_x86));
}

// A PKCS#12 signer with a password: the password opens it (through a pipe to
// osslsigncode, not its command line), and a wrong one is refused at signing.
TEST_F(CorvaneReleaseTest, OpensAPasswordProtectedSigner) {
  fs::create_directory(folder_ / "signer");
  const TestSigner signer = MakeTestSigner(folder_ / "signer");
  const std::string pfx = Path("signer.pfx");
  const std::string password = "correct horse -battery";
  ASSERT_EQ(RunProgram("openssl",
                       {"pkcs12", "-export", "-in", signer.certificate.string(), "-inkey",
                        signer.key.string(), "-passout", "pass:" + password, "-out", pfx},
                       folder_)
                .status,
            0);

  const struct {
    std::string password;
    int status;
  } cases[] = {{password, 0}, {"wrong", kFailed}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.password);
    const fs::path out = folder_ / (c.status == 0 ? "opened.exe" : "refused.exe");
    const ProcessResult release =
        Release({"--payload", (folder_ / "payload").string(), "--tag", kTag, "--out", out.string(),
                 "--pfx", pfx, "--pass", c.password, "--ca", signer.certificate.string()});
    EXPECT_EQ(release.status, c.status) << release.out << release.err;
    EXPECT_EQ(fs::exists(out), c.status == 0);
    if (c.status == 0) {
      EXPECT_NE(release.out.find("  signed by: /CN=Corvane tagging test signer\n"),
                std::string::npos)
          << release.out;
    } else {
      EXPECT_NE(release.err.find("corvane-release: error: osslsigncode could not sign the stub "
                                 "with sha256\n"),
                std::string::npos)
          << release.err;
    }
  }
}

}  // namespace
}  // namespace vireo::test
