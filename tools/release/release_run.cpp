#include "tools/release/release_run.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "tools/common/file_io.h"
#include "tools/common/sha256.h"
#include "tools/release/pe_checksum_check.h"
#include "tools/release/release_error.h"
#include "tools/release/run_program.h"
#include "tools/release/verifier_report.h"
#include "tools/tagger/stub_tag_lookup.h"
#include "tools/tagger/tag_commands.h"

namespace vireo::release {
namespace {

namespace fs = std::filesystem;

void Say(const std::string& text) { std::printf("\033[1m==> %s\033[0m\n", text.c_str()); }

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = tools::ReadWholeFile(path);
  return std::string(bytes.begin(), bytes.end());
}

// A step's report, shown before the step's failure is reported.
void ShowReport(const std::string& path) {
  const std::string text = ReadText(path);
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
}

// Restores the umask on every way out.
class ScopedUmask {
 public:
  explicit ScopedUmask(mode_t mask) : previous_(umask(mask)) {}
  ~ScopedUmask() { umask(previous_); }
  ScopedUmask(const ScopedUmask&) = delete;
  ScopedUmask& operator=(const ScopedUmask&) = delete;

 private:
  mode_t previous_;
};

struct Signer {
  std::vector<std::string> sign_args;  // osslsigncode's signer options
  std::string test_certificate;        // the throwaway certificate; "" for a real signer
};

// The throwaway test certificate in `folder`, made afresh when missing or
// expiring within a day.
Signer TestSigner(const std::string& folder) {
  const std::string certificate = folder + "/cert.pem";
  const std::string key = folder + "/key.pem";
  std::error_code error;
  if (!fs::is_regular_file(certificate, error) || !fs::is_regular_file(key, error) ||
      RunProgram({"openssl", "x509", "-checkend", "86400", "-noout", "-in", certificate},
                 "/dev/null") != 0) {
    Say("making a throwaway TEST CERTIFICATE — not for distribution (" + folder + ")");
    fs::create_directories(folder);
    int status;
    {
      // Only the owner reads the key.
      ScopedUmask owner_only(077);
      status = RunProgram({"openssl", "genpkey", "-quiet", "-algorithm", "RSA", "-pkeyopt",
                           "rsa_keygen_bits:3072", "-out", key});
    }
    if (status == 0) {
      status = RunProgram({"openssl", "req", "-x509", "-key", key, "-sha256", "-days", "365",
                           "-subj", "/CN=Corvane TEST CERTIFICATE - not for distribution",
                           "-addext", "extendedKeyUsage=codeSigning", "-out", certificate});
    }
    if (status != 0) throw ReleaseError("openssl could not make the test certificate");
  }
  return {{"-certs", certificate, "-key", key}, certificate};
}

std::string FileSha256(const std::string& path) {
  const std::vector<uint8_t> bytes = tools::ReadWholeFile(path);
  tools::Sha256 digest;
  digest.Add(bytes.data(), bytes.size());
  return digest.FinishHex();
}

}  // namespace

void RunRelease(const ReleaseOptions& options, const ReleaseFolders& folders) {
  const std::string work = folders.build_dir + "/release";
  fs::remove_all(work);
  fs::create_directories(work);
  if (RunProgram({folders.build_sh, "stub", "--payload", options.payload, "--out",
                  work + "/unsigned.exe"}) != 0) {
    throw ReleaseError("the stub build failed");
  }

  std::string ca = options.ca;
  Signer signer;
  if (!options.pfx.empty()) {
    signer.sign_args = {"-pkcs12", options.pfx};
  } else if (!options.cert.empty()) {
    signer.sign_args = {"-certs", options.cert, "-key", options.key};
  } else {
    signer = TestSigner(folders.build_dir + "/release-test-certificate");
    if (ca.empty()) ca = signer.test_certificate;
  }
  std::vector<std::string> sign_args = signer.sign_args;
  // The password reaches osslsigncode through a pipe, not its command line.
  if (options.pass_given) sign_args.insert(sign_args.end(), {"-readpass", "-"});
  if (!options.timestamp.empty()) sign_args.insert(sign_args.end(), {"-ts", options.timestamp});

  const std::vector<std::string> hashes = options.nest ? std::vector<std::string>{"sha1", "sha256"}
                                                       : std::vector<std::string>{"sha256"};
  const std::string signatures = options.nest ? "SHA-1 with a nested SHA-256" : "SHA-256";
  Say("signing with " + signatures +
      (options.timestamp.empty() ? "" : ", time-stamped by " + options.timestamp) +
      (signer.test_certificate.empty() ? "" : " (TEST CERTIFICATE — not for distribution)"));
  std::string input = work + "/unsigned.exe";
  bool nested = false;
  for (const std::string& hash : hashes) {
    std::vector<std::string> argv = {"osslsigncode", "sign"};
    if (nested) argv.push_back("-nest");
    argv.insert(argv.end(), {"-h", hash, "-n", "CorvaneUpdateSetup"});
    argv.insert(argv.end(), sign_args.begin(), sign_args.end());
    const std::string signed_file = work + "/signed-" + hash + ".exe";
    argv.insert(argv.end(), {"-in", input, "-out", signed_file});
    const std::string report = work + "/sign-" + hash + ".txt";
    const int status = options.pass_given ? RunProgramWithInput(argv, options.pass, report)
                                          : RunProgram(argv, report);
    if (status != 0) {
      ShowReport(report);
      throw ReleaseError("osslsigncode could not sign the stub with " + hash +
                         (options.timestamp.empty() ? ""
                                                    : " (is the time-stamping authority " +
                                                          options.timestamp + " reachable?)"));
    }
    input = signed_file;
    nested = true;
  }
  fs::copy_file(input, work + "/signed.exe");

  Say("tagging");
  const std::string tagged = work + "/tagged.exe";
  const tagger::TagResult result =
      tagger::SetTag(tools::ReadWholeFile(work + "/signed.exe"), options.tag);
  tools::WriteFileAtomically(tagged, result.file, work + "/signed.exe");
  std::printf("%s: tag set (%zu bytes, room for %zu)%s\n", tagged.c_str(), options.tag.size(),
              result.record_area, result.carriers_removed ? ", replacing the earlier tag" : "");

  Say("verifying");
  std::vector<std::string> verify = {"osslsigncode", "verify"};
  if (!ca.empty()) verify.insert(verify.end(), {"-CAfile", ca});
  if (!options.tsa_ca.empty()) verify.insert(verify.end(), {"-TSA-CAfile", options.tsa_ca});
  verify.insert(verify.end(), {"-in", tagged});
  const std::string verify_report = work + "/verify.txt";
  if (RunProgram(verify, verify_report) != 0) {
    ShowReport(verify_report);
    throw ReleaseError(
        "the tagged stub's signature does not verify (a certificate from a private CA needs its "
        "root named with --ca FILE)");
  }
  std::vector<uint8_t> tagged_bytes = tools::ReadWholeFile(tagged);
  const PeChecksumCheck checksum = CheckPeChecksum(tagged_bytes);
  if (!checksum.matches()) {
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "holds 0x%08X, its bytes sum to 0x%08X", checksum.stored,
                  checksum.computed);
    throw ReleaseError(std::string("the tagged stub's PE checksum is wrong (it ") + numbers + ")");
  }
  const SignatureVerifierReport verified = ReadSignatureVerifierReport(ReadText(verify_report));
  const int verified_count = static_cast<int>(hashes.size());
  if (verified.verified_signatures != verified_count) {
    throw ReleaseError("the tagged stub does not carry " + std::to_string(verified_count) +
                       " verified signature(s) (see " + verify_report + ")");
  }
  if (!options.timestamp.empty() &&
      (verified.time_stamp_failed || verified.time_stamps_verified != verified_count)) {
    throw ReleaseError(
        "not every signature's time stamp verifies (a private time-stamping authority needs its "
        "root named with --tsa-ca FILE; see " +
        verify_report + ")");
  }

  // A second verifier, which hashes the image by its section table as the
  // format describes where osslsigncode hashes the file from end to end: a
  // malformed section table shows only here. It checks SHA-256 signatures
  // alone, so a SHA-1 first signature (--nest) is left to osslsigncode.
  std::string second_check = "sbverify";
  if (!options.nest) {
    std::string anchor = ca;
    if (anchor.empty()) {
      // Trusted through the system's bundle: sbverify takes one certificate,
      // so the image hash is checked against the signer's own.
      if (RunProgram(
              {"osslsigncode", "extract-signature", "-in", tagged, "-out", work + "/signature.der"},
              "/dev/null") != 0) {
        throw ReleaseError("cannot extract the stub's signature");
      }
      if (RunProgram({"openssl", "pkcs7", "-inform", "DER", "-in", work + "/signature.der",
                      "-print_certs", "-out", work + "/signer.pem"}) != 0) {
        throw ReleaseError("cannot read the stub's signature");
      }
      anchor = work + "/signer.pem";
    }
    const std::string sbverify_report = work + "/sbverify.txt";
    // Without a root of ours the chain may not build: only the hash counts then.
    if (RunProgram({"sbverify", "--cert", anchor, tagged}, sbverify_report) != 0 && !ca.empty()) {
      ShowReport(sbverify_report);
      throw ReleaseError("sbverify rejects the tagged stub");
    }
    if (SectionVerifierReportsHashFailure(ReadText(sbverify_report))) {
      ShowReport(sbverify_report);
      throw ReleaseError("sbverify, which hashes by the section table, rejects the tagged stub");
    }
  } else {
    second_check = "no sbverify (it checks SHA-256 first signatures only)";
  }

  const tagger::StubTag read_back = tagger::ReadTagAsStub(tagged_bytes);
  if (read_back.status != tagger::StubTagStatus::kFound) {
    throw ReleaseError("the stub would find no tag");
  }
  if (read_back.tag != options.tag) {
    throw ReleaseError("the stub would read the tag '" + read_back.tag + "'");
  }

  const fs::path out = options.out;
  if (out.has_parent_path()) fs::create_directories(out.parent_path());
  tools::WriteFileAtomically(out, tagged_bytes);

  Say("release stub ready");
  std::printf("  file:      %s (%ju bytes)\n", options.out.c_str(),
              static_cast<uintmax_t>(fs::file_size(out)));
  std::printf("  sha256:    %s\n", FileSha256(options.out).c_str());
  std::printf("  signed by: %s\n", verified.signer.c_str());
  std::printf("  signature: %s\n", signatures.c_str());
  if (!options.timestamp.empty()) {
    std::printf("  timestamp: %s (%s)\n", verified.time_stamp.c_str(), options.timestamp.c_str());
  } else {
    std::printf("  timestamp: none (the signature expires with the certificate)\n");
  }
  std::printf("  tag:       %s\n", options.tag.c_str());
  const std::string time_stamp_trust =
      options.timestamp.empty()
          ? ""
          : "; time stamps trusting " +
                (options.tsa_ca.empty() ? std::string("the system CA bundle") : options.tsa_ca);
  std::printf("  verified:  osslsigncode verify (trusting %s%s), %s, corvane-tag get\n",
              ca.empty() ? "the system CA bundle" : ca.c_str(), time_stamp_trust.c_str(),
              second_check.c_str());
  if (!signer.test_certificate.empty()) {
    std::printf("\n  TEST CERTIFICATE — not for distribution: signed with the throwaway %s.\n",
                signer.test_certificate.c_str());
    std::printf("  Sign releases with --cert/--key or --pfx.\n");
  }
}

}  // namespace vireo::release
