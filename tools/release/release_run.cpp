#include "tools/release/release_run.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <vector>

#include "tools/common/file_io.h"
#include "tools/common/sha256.h"
#include "tools/release/pe_checksum_check.h"
#include "tools/release/pin_source.h"
#include "tools/release/pkcs11_engine.h"
#include "tools/release/pkcs11_key_uri.h"
#include "tools/release/prepared_release.h"
#include "tools/release/release_error.h"
#include "tools/release/run_program.h"
#include "tools/release/signed_content.h"
#include "tools/release/stub_arch.h"
#include "tools/release/token_signer.h"
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
  // The password or PIN, for osslsigncode's standard input (-readpass -).
  std::string secret;
  bool has_secret = false;
  std::string key;  // where the key is, for the summary; "" for a key file
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
  Signer signer;
  signer.sign_args = {"-certs", certificate, "-key", key};
  signer.test_certificate = certificate;
  return signer;
}

std::string FileSha256(const std::string& path) {
  const std::vector<uint8_t> bytes = tools::ReadWholeFile(path);
  tools::Sha256 digest;
  digest.Add(bytes.data(), bytes.size());
  return digest.FinishHex();
}

// The signatures of a release, in the order they go in: the first signs,
// the second is nested in it.
std::vector<std::string> SignatureHashes(bool nest) {
  return nest ? std::vector<std::string>{"sha1", "sha256"} : std::vector<std::string>{"sha256"};
}

std::string DescribeSignatures(const std::vector<std::string>& hashes) {
  return hashes.size() == 2 ? "SHA-1 with a nested SHA-256" : "SHA-256";
}

// The signer of a one-step release, checked before anything is built: for a
// key on a token its module, token, PIN, key and certificate.
Signer ChooseSigner(const ReleaseOptions& options, const ReleaseFolders& folders,
                    const std::string& work) {
  Signer signer;
  if (options.KeyIsOnToken()) {
    Say("checking the key on the token");
    CheckPkcs11EngineInstalled();
    signer.secret = ReadPin(options.pin_file, options.pin_env);
    signer.has_secret = !signer.secret.empty();
    Pkcs11KeyUri key_uri(options.key);
    const TokenSigner token = CheckTokenSigner(options.pkcs11_module, key_uri, signer.secret,
                                               options.cert, work + "/token-chain.pem");
    // osslsigncode's PKCS#11 engine finds the key by the same URI; the PIN
    // reaches it through a pipe (-readpass -), never its command line.
    signer.sign_args = {"-pkcs11module", options.pkcs11_module, "-certs", token.chain_file,
                        "-key", options.key};
    if (signer.has_secret) {
      signer.sign_args.insert(signer.sign_args.end(), {"-login", "-readpass", "-"});
    }
    signer.key = "key '" + token.key + "' on token '" + token.token + "' (" +
                 options.pkcs11_module + "), certificate chain from " +
                 (token.chain_from_token ? "the token" : options.cert);
    std::printf("key '%s' on token '%s' signs for the certificate from %s\n", token.key.c_str(),
                token.token.c_str(), token.chain_from_token ? "the token" : options.cert.c_str());
  } else if (!options.pfx.empty()) {
    signer.sign_args = {"-pkcs12", options.pfx};
  } else if (!options.cert.empty()) {
    signer.sign_args = {"-certs", options.cert, "-key", options.key};
  } else {
    signer = TestSigner(folders.build_dir + "/release-test-certificate");
  }
  // The password reaches osslsigncode through a pipe, not its command line.
  if (options.pass_given) {
    signer.sign_args.insert(signer.sign_args.end(), {"-readpass", "-"});
    signer.secret = options.pass;
    signer.has_secret = true;
  }
  return signer;
}

// " the 64-bit (PE32+, x64) stub" in the steps' headings, where a run makes
// more than the 32-bit stub alone; "" where it makes just that, as before
// there was a choice.
std::string StubLabel(StubArch arch, size_t stubs) {
  if (arch == StubArch::kX86 && stubs == 1) return "";
  return std::string(" the ") + DescribeStubArch(arch) + " stub";
}

// The folder a stub's steps work in: work itself for the 32-bit stub,
// work/x64 for the 64-bit one, so that --arch both keeps both sets of reports.
std::string StubWork(const std::string& work, StubArch arch) {
  if (arch == StubArch::kX86) return work;
  const std::string folder = work + "/" + StubArchName(arch);
  fs::create_directories(folder);
  return folder;
}

void BuildStub(const ReleaseFolders& folders, const std::string& payload, StubArch arch,
               const std::string& out) {
  std::vector<std::string> argv = {folders.build_sh, "stub", "--payload", payload, "--out", out};
  // The 32-bit stub is built with the command it always was.
  if (arch != StubArch::kX86) argv.insert(argv.end(), {"--arch", StubArchName(arch)});
  if (RunProgram(argv) != 0) {
    throw ReleaseError(std::string("the ") + DescribeStubArch(arch) + " stub's build failed");
  }
  // Signing, tagging and the checks take either format, so a build that
  // gave the other processor's stub would pass them all.
  if (!ImageIsFor(tools::ReadWholeFile(out), arch)) {
    throw ReleaseError(std::string("the stub build gave no ") + DescribeStubArch(arch) +
                       " image");
  }
}

// Signs work/unsigned.exe into work/signed.exe.
void SignInOneStep(const ReleaseOptions& options, const Signer& signer,
                   const std::vector<std::string>& hashes, const std::string& label,
                   const std::string& work) {
  std::vector<std::string> sign_args = signer.sign_args;
  if (!options.timestamp.empty()) sign_args.insert(sign_args.end(), {"-ts", options.timestamp});
  Say("signing" + label + " with " + DescribeSignatures(hashes) +
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
    const int status = signer.has_secret ? RunProgramWithInput(argv, signer.secret, report)
                                         : RunProgram(argv, report);
    if (status != 0) {
      ShowReport(report);
      throw ReleaseError("osslsigncode could not sign" + (label.empty() ? " the stub" : label) +
                         " with " + hash +
                         (options.timestamp.empty() ? ""
                                                    : " (is the time-stamping authority " +
                                                          options.timestamp + " reachable?)"));
    }
    input = signed_file;
    nested = true;
  }
  fs::copy_file(input, work + "/signed.exe");
}

// Builds the stub and hands over what the signing machine signs.
void Prepare(const ReleaseOptions& options, const ReleaseFolders& folders,
             const std::string& work) {
  PreparedRelease prepared;
  prepared.hashes = SignatureHashes(options.nest);
  prepared.arch = options.arches.front();
  const std::string stub = work + "/" + prepared.stub;
  BuildStub(folders, options.payload, prepared.arch, stub);
  Say("extracting the data to sign" + StubLabel(prepared.arch, 1) + " (" +
      DescribeSignatures(prepared.hashes) + ")");
  for (const std::string& hash : prepared.hashes) {
    const std::string report = work + "/extract-" + hash + ".txt";
    if (RunProgram({"osslsigncode", "extract-data", "-h", hash, "-in", stub, "-out",
                    work + "/" + DataFileName(hash)},
                   report) != 0) {
      ShowReport(report);
      throw ReleaseError("osslsigncode could not extract the data to sign with " + hash);
    }
  }
  prepared.stub_sha256 = FileSha256(stub);

  // The manifest goes last, once everything it names is in place: a folder
  // with a manifest is a whole preparation.
  const fs::path folder = options.prepare;
  fs::create_directories(folder);
  fs::remove(folder / kManifestName);
  tools::WriteFileAtomically(folder / prepared.stub, tools::ReadWholeFile(stub));
  for (const std::string& hash : prepared.hashes) {
    tools::WriteFileAtomically(folder / DataFileName(hash),
                               tools::ReadWholeFile(work + "/" + DataFileName(hash)));
  }
  const std::string manifest = FormatManifest(prepared, options.prepare);
  tools::WriteFileAtomically(folder / kManifestName,
                             std::vector<uint8_t>(manifest.begin(), manifest.end()));

  Say("prepared for signing on another machine");
  std::printf("  stub:      %s (%s, sha256 %s)\n", (folder / prepared.stub).c_str(),
              DescribeStubArch(prepared.arch), prepared.stub_sha256.c_str());
  for (const std::string& hash : prepared.hashes) {
    std::printf("  to sign:   %s (%s)\n", (folder / DataFileName(hash)).c_str(), hash.c_str());
  }
  std::printf("  manifest:  %s (what to run on the signing machine, and --attach here)\n",
              (folder / kManifestName).c_str());
}

// Attaches the signatures made from a prepared folder to its stub, into
// work/signed.exe; each must sign exactly the data prepared from that stub.
// Returns the manifest: the hashes, in their order, and the processor.
PreparedRelease AttachPrepared(const ReleaseOptions& options, const std::string& ca,
                               const std::string& work) {
  const fs::path folder = options.prepared;
  const std::string manifest_path = (folder / kManifestName).string();
  std::error_code missing;
  if (!fs::is_regular_file(manifest_path, missing)) {
    throw ReleaseError("'" + options.prepared + "' holds no " + kManifestName +
                       " (make it with --prepare)");
  }
  const PreparedRelease prepared = ParseManifest(ReadText(manifest_path), manifest_path);
  const std::string stub = (folder / prepared.stub).string();
  if (!fs::is_regular_file(stub, missing)) throw ReleaseError("the prepared stub '" + stub + "' is missing");
  if (FileSha256(stub) != prepared.stub_sha256) {
    throw ReleaseError("the prepared stub '" + stub + "' is not the one prepared (its SHA-256 " +
                       "differs from the manifest's)");
  }
  // The processor is the manifest's word; the summary repeats it.
  if (!ImageIsFor(tools::ReadWholeFile(stub), prepared.arch)) {
    throw ReleaseError("the prepared stub '" + stub + "' is no " + DescribeStubArch(prepared.arch) +
                       " image, which its manifest names");
  }
  if (options.attach.size() != prepared.hashes.size()) {
    throw ReleaseError("the prepared stub takes " + std::to_string(prepared.hashes.size()) +
                       " signature(s) (" + DescribeSignatures(prepared.hashes) + "), not " +
                       std::to_string(options.attach.size()));
  }
  // Which prepared data each signature was made from, by the content it signs.
  std::vector<std::string> by_hash(prepared.hashes.size());
  for (const std::string& signature_file : options.attach) {
    const SignedContent signature =
        ReadSignedContent(tools::ReadWholeFile(signature_file), "'" + signature_file + "'");
    if (signature.signers == 0) throw ReleaseError("'" + signature_file + "' holds no signature");
    bool covered = false;
    for (size_t i = 0; i < prepared.hashes.size() && !covered; ++i) {
      const std::string data = (folder / DataFileName(prepared.hashes[i])).string();
      if (ReadSignedContent(tools::ReadWholeFile(data), "'" + data + "'").content !=
          signature.content) {
        continue;
      }
      if (!by_hash[i].empty()) {
        throw ReleaseError("'" + by_hash[i] + "' and '" + signature_file + "' both sign the " +
                           prepared.hashes[i] + " data");
      }
      by_hash[i] = signature_file;
      covered = true;
    }
    if (!covered) {
      throw ReleaseError("'" + signature_file + "' does not sign the prepared stub (it was made " +
                         "from other data than " + options.prepared + "'s)");
    }
  }

  Say("attaching " + DescribeSignatures(prepared.hashes) + " signature(s) made elsewhere" +
      (prepared.arch == StubArch::kX86 ? "" : " to" + StubLabel(prepared.arch, 1)));
  std::string input = stub;
  for (size_t i = 0; i < prepared.hashes.size(); ++i) {
    const std::string& hash = prepared.hashes[i];
    const std::string attached = work + "/attached-" + hash + ".exe";
    std::vector<std::string> argv = {"osslsigncode", "attach-signature"};
    if (i > 0) argv.push_back("-nest");
    argv.insert(argv.end(), {"-sigin", by_hash[i], "-h", hash});
    if (!ca.empty()) argv.insert(argv.end(), {"-CAfile", ca});
    argv.insert(argv.end(), {"-in", input, "-out", attached});
    const std::string report = work + "/attach-" + hash + ".txt";
    // osslsigncode writes its output even when the signature does not
    // verify: only its status counts.
    if (RunProgram(argv, report) != 0) {
      ShowReport(report);
      throw ReleaseError("the signature '" + by_hash[i] +
                         "' does not verify on the prepared stub (a certificate from a private "
                         "CA needs its root named with --ca FILE)");
    }
    input = attached;
  }
  std::printf("%s: signed with %s\n", stub.c_str(), DescribeSignatures(prepared.hashes).c_str());
  return prepared;
}

// Has the authority countersign every signature of work/attached.exe.
void TimeStampAttached(const ReleaseOptions& options, const std::vector<std::string>& hashes,
                       const std::string& input, const std::string& output,
                       const std::string& work) {
  Say("time-stamping by " + options.timestamp);
  std::string from = input;
  for (size_t index = 0; index < hashes.size(); ++index) {
    const std::string to = work + "/time-stamped-" + std::to_string(index) + ".exe";
    const std::string report = work + "/time-stamp-" + std::to_string(index) + ".txt";
    if (RunProgram({"osslsigncode", "add", "-ts", options.timestamp, "-index",
                    std::to_string(index), "-in", from, "-out", to},
                   report) != 0) {
      ShowReport(report);
      throw ReleaseError("osslsigncode could not time-stamp the " + hashes[index] +
                         " signature (is the time-stamping authority " + options.timestamp +
                         " reachable?)");
    }
    from = to;
  }
  fs::copy_file(from, output);
}

// A stub that passed every check, waiting to be written.
struct CheckedStub {
  StubArch arch;
  std::string out;
  std::vector<uint8_t> bytes;
  SignatureVerifierReport verified;
  std::string second_check;  // what the summary says of sbverify
};

// Tags work/signed.exe and checks the result with both verifiers, the PE
// checksum and the stub's own tag lookup. Writes nothing outside work.
CheckedStub TagAndVerify(const ReleaseOptions& options, const std::string& ca,
                         const std::vector<std::string>& hashes, StubArch arch,
                         const std::string& label, const std::string& work) {
  Say("tagging" + label);
  const std::string tagged = work + "/tagged.exe";
  const tagger::TagResult result =
      tagger::SetTag(tools::ReadWholeFile(work + "/signed.exe"), options.tag);
  tools::WriteFileAtomically(tagged, result.file, work + "/signed.exe");
  std::printf("%s: tag set (%zu bytes, room for %zu)%s\n", tagged.c_str(), options.tag.size(),
              result.record_area, result.carriers_removed ? ", replacing the earlier tag" : "");

  Say("verifying" + label);
  const std::string the_stub =
      label.empty() ? "the stub" : std::string("the ") + DescribeStubArch(arch) + " stub";
  const std::string stub = "the tagged" + the_stub.substr(3);
  std::vector<std::string> verify = {"osslsigncode", "verify"};
  if (!ca.empty()) verify.insert(verify.end(), {"-CAfile", ca});
  if (!options.tsa_ca.empty()) verify.insert(verify.end(), {"-TSA-CAfile", options.tsa_ca});
  verify.insert(verify.end(), {"-in", tagged});
  const std::string verify_report = work + "/verify.txt";
  if (RunProgram(verify, verify_report) != 0) {
    ShowReport(verify_report);
    throw ReleaseError(
        stub + "'s signature does not verify (a certificate from a private CA needs its "
        "root named with --ca FILE)");
  }
  CheckedStub checked{arch, options.OutFor(arch), tools::ReadWholeFile(tagged), {}, "sbverify"};
  const PeChecksumCheck checksum = CheckPeChecksum(checked.bytes);
  if (!checksum.matches()) {
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, "holds 0x%08X, its bytes sum to 0x%08X", checksum.stored,
                  checksum.computed);
    throw ReleaseError(stub + "'s PE checksum is wrong (it " + numbers + ")");
  }
  checked.verified = ReadSignatureVerifierReport(ReadText(verify_report));
  const int verified_count = static_cast<int>(hashes.size());
  if (checked.verified.verified_signatures != verified_count) {
    throw ReleaseError(stub + " does not carry " + std::to_string(verified_count) +
                       " verified signature(s) (see " + verify_report + ")");
  }
  if (!options.timestamp.empty() && (checked.verified.time_stamp_failed ||
                                     checked.verified.time_stamps_verified != verified_count)) {
    throw ReleaseError(
        "not every signature's time stamp verifies (a private time-stamping authority needs its "
        "root named with --tsa-ca FILE; see " +
        verify_report + ")");
  }

  // A second verifier, which hashes the image by its section table as the
  // format describes where osslsigncode hashes the file from end to end: a
  // malformed section table shows only here. It checks SHA-256 signatures
  // alone, so a SHA-1 first signature (--nest) is left to osslsigncode.
  if (hashes.size() == 1) {
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
      throw ReleaseError("sbverify rejects " + stub);
    }
    if (SectionVerifierReportsHashFailure(ReadText(sbverify_report))) {
      ShowReport(sbverify_report);
      throw ReleaseError("sbverify, which hashes by the section table, rejects " + stub);
    }
  } else {
    checked.second_check = "no sbverify (it checks SHA-256 first signatures only)";
  }

  const tagger::StubTag read_back = tagger::ReadTagAsStub(checked.bytes);
  if (read_back.status != tagger::StubTagStatus::kFound) {
    throw ReleaseError(the_stub + " would find no tag");
  }
  if (read_back.tag != options.tag) {
    throw ReleaseError(the_stub + " would read the tag '" + read_back.tag + "'");
  }
  return checked;
}

}  // namespace

void RunRelease(const ReleaseOptions& options, const ReleaseFolders& folders) {
  const std::string work = folders.build_dir + "/release";
  fs::remove_all(work);
  fs::create_directories(work);
  if (options.mode == ReleaseMode::kPrepare) {
    Prepare(options, folders, StubWork(work, options.arches.front()));
    return;
  }

  std::string ca = options.ca;
  std::vector<std::string> hashes;
  Signer signer;
  // Every stub is checked before any is written: a refusal for one leaves
  // no output file for either.
  std::vector<CheckedStub> checked;
  if (options.mode == ReleaseMode::kAttach) {
    const PreparedRelease prepared = AttachPrepared(options, ca, work);
    hashes = prepared.hashes;
    const std::string attached = work + "/attached-" + hashes.back() + ".exe";
    if (options.timestamp.empty()) {
      fs::copy_file(attached, work + "/signed.exe");
    } else {
      TimeStampAttached(options, hashes, attached, work + "/signed.exe", work);
    }
    signer.key = "on another machine; signature(s) attached to the stub prepared in " +
                 options.prepared;
    // The manifest names the processor; --out names the file.
    checked.push_back(
        TagAndVerify(options, ca, hashes, prepared.arch, StubLabel(prepared.arch, 1), work));
  } else {
    hashes = SignatureHashes(options.nest);
    // Once for every stub: a token's PIN is read and checked once.
    signer = ChooseSigner(options, folders, work);
    if (!signer.test_certificate.empty() && ca.empty()) ca = signer.test_certificate;
    for (const StubArch arch : options.arches) {
      const std::string stub_work = StubWork(work, arch);
      const std::string label = StubLabel(arch, options.arches.size());
      BuildStub(folders, options.payload, arch, stub_work + "/unsigned.exe");
      SignInOneStep(options, signer, hashes, label, stub_work);
      checked.push_back(TagAndVerify(options, ca, hashes, arch, label, stub_work));
    }
  }
  const std::string signatures = DescribeSignatures(hashes);

  // Every output's folder first, so that one that cannot be made stops the
  // release before either file is written.
  for (const CheckedStub& stub : checked) {
    const fs::path out = stub.out;
    if (out.has_parent_path()) fs::create_directories(out.parent_path());
  }
  for (const CheckedStub& stub : checked) tools::WriteFileAtomically(stub.out, stub.bytes);

  Say(checked.size() == 1 ? "release stub ready" : "release stubs ready");
  for (const CheckedStub& stub : checked) {
    std::printf("  file:      %s (%ju bytes)\n", stub.out.c_str(),
                static_cast<uintmax_t>(fs::file_size(stub.out)));
    std::printf("  stub:      %s\n", DescribeStubArch(stub.arch));
    std::printf("  sha256:    %s\n", FileSha256(stub.out).c_str());
  }
  const CheckedStub& last = checked.back();
  std::printf("  signed by: %s\n", last.verified.signer.c_str());
  std::printf("  signature: %s\n", signatures.c_str());
  if (!signer.key.empty()) std::printf("  key:       %s\n", signer.key.c_str());
  if (!options.timestamp.empty()) {
    std::printf("  timestamp: %s (%s)\n", last.verified.time_stamp.c_str(),
                options.timestamp.c_str());
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
              last.second_check.c_str());
  if (!signer.test_certificate.empty()) {
    std::printf("\n  TEST CERTIFICATE — not for distribution: signed with the throwaway %s.\n",
                signer.test_certificate.c_str());
    std::printf("  Sign releases with --cert/--key or --pfx.\n");
  }
}

}  // namespace vireo::release
