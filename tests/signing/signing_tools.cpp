#include "tests/signing/signing_tools.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <stdexcept>

#include "tests/support/file_bytes.h"

extern char** environ;

namespace vireo::test {

namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& path) {
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

void Require(const ProcessResult& result, const std::string& what) {
  if (result.status != 0) {
    throw std::runtime_error(what + " failed (" + std::to_string(result.status) +
                             "): " + result.err + result.out);
  }
}

}  // namespace

ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const fs::path& scratch) {
  const fs::path out = scratch / "process-stdout.txt";
  const fs::path err = scratch / "process-stderr.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);

  std::vector<std::string> storage = {program};
  storage.insert(storage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : storage) argv.push_back(argument.data());
  argv.push_back(nullptr);

  pid_t child = 0;
  const int spawned =
      posix_spawnp(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + program);
  int raw = 0;
  waitpid(child, &raw, 0);

  ProcessResult result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = ReadText(out);
  result.err = ReadText(err);
  fs::remove(out);
  fs::remove(err);
  return result;
}

TestSigner MakeTestSigner(const fs::path& folder) {
  TestSigner signer{folder / "signer-cert.pem", folder / "signer-key.pem"};
  Require(RunProgram(CORVANE_OPENSSL,
                     {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "30",
                      "-subj", "/CN=Corvane tagging test signer", "-keyout", signer.key.string(),
                      "-out", signer.certificate.string()},
                     folder),
          "openssl req");
  return signer;
}

std::vector<uint8_t> SignImage(const std::vector<uint8_t>& image, const TestSigner& signer,
                               const fs::path& scratch, const SigningOptions& options) {
  const fs::path unsigned_file = scratch / "to-sign.exe";
  const fs::path signed_file = scratch / "signed-by-osslsigncode.exe";
  WriteFileBytes(unsigned_file, image);
  fs::remove(signed_file);
  std::vector<std::string> arguments = {"sign", "-h", options.hash};
  if (options.nest) arguments.push_back("-nest");
  arguments.insert(arguments.end(),
                   {"-certs", signer.certificate.string(), "-key", signer.key.string(), "-in",
                    unsigned_file.string(), "-out", signed_file.string()});
  if (!options.timestamp_url.empty()) {
    arguments.insert(arguments.end(), {"-ts", options.timestamp_url});
  }
  if (!options.extra_certificates.empty()) {
    arguments.insert(arguments.end(), {"-ac", options.extra_certificates.string()});
  }
  Require(RunProgram(CORVANE_OSSLSIGNCODE, arguments, scratch), "osslsigncode sign");
  std::vector<uint8_t> signed_image = ReadFileBytes(signed_file);
  fs::remove(unsigned_file);
  fs::remove(signed_file);
  return signed_image;
}

std::vector<uint8_t> SignImage(const std::vector<uint8_t>& image, const TestSigner& signer,
                               const fs::path& scratch, bool nest,
                               const fs::path& extra_certificates) {
  SigningOptions options;
  options.hash = nest ? "sha512" : "sha256";
  options.nest = nest;
  options.extra_certificates = extra_certificates;
  return SignImage(image, signer, scratch, options);
}

std::vector<uint8_t> AddUnauthenticatedBlob(const std::vector<uint8_t>& image,
                                            const fs::path& scratch) {
  const fs::path in = scratch / "to-extend.exe";
  const fs::path out = scratch / "extended-by-osslsigncode.exe";
  WriteFileBytes(in, image);
  fs::remove(out);
  Require(RunProgram(CORVANE_OSSLSIGNCODE,
                     {"add", "-addUnauthenticatedBlob", "-in", in.string(), "-out", out.string()},
                     scratch),
          "osslsigncode add");
  std::vector<uint8_t> extended = ReadFileBytes(out);
  fs::remove(in);
  fs::remove(out);
  return extended;
}

fs::path MakeBulkyCertificate(const fs::path& folder, size_t size) {
  const fs::path certificate = folder / "bulky-cert.pem";
  Require(RunProgram(CORVANE_OPENSSL,
                     {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                      "-nodes", "-days", "30", "-subj", "/CN=Corvane tagging test bulk",
                      "-addext", "nsComment=" + std::string(size, 'c'), "-keyout",
                      (folder / "bulky-key.pem").string(), "-out", certificate.string()},
                     folder),
          "openssl req");
  return certificate;
}

ProcessResult VerifySignature(const fs::path& file, const TestSigner& signer,
                              const fs::path& scratch, const fs::path& time_stamp_root) {
  std::vector<std::string> arguments = {"verify", "-CAfile", signer.certificate.string()};
  if (!time_stamp_root.empty()) {
    arguments.insert(arguments.end(), {"-TSA-CAfile", time_stamp_root.string()});
  }
  arguments.insert(arguments.end(), {"-in", file.string()});
  return RunProgram(CORVANE_OSSLSIGNCODE, arguments, scratch);
}

ProcessResult VerifyBySections(const fs::path& file, const TestSigner& signer,
                               const fs::path& scratch) {
  return RunProgram(CORVANE_SBVERIFY, {"--cert", signer.certificate.string(), file.string()},
                    scratch);
}

}  // namespace vireo::test
