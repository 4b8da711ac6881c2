#pragma once
// The outside programs the tagging tests drive: corvane-tag itself, openssl for
// a throwaway signing certificate, osslsigncode to sign and verify, sbverify
// to verify by the section table.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vireo::test {

struct ProcessResult {
  int status = -1;  // exit status, or -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs `program` with `arguments` passed as they are (no shell), capturing its
// output through files in `scratch`, which must exist.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const std::filesystem::path& scratch);

// A self-signed certificate and its unencrypted key, as PEM files.
struct TestSigner {
  std::filesystem::path certificate;
  std::filesystem::path key;
};

// Makes a fresh signer in `folder` with openssl. Throws std::runtime_error when
// openssl fails.
TestSigner MakeTestSigner(const std::filesystem::path& folder);

// How osslsigncode signs an image.
struct SigningOptions {
  std::string hash = "sha256";
  // Adds a signature nested in the image's existing one instead of signing afresh.
  bool nest = false;
  // An RFC 3161 time-stamping authority to countersign the signature; none when empty.
  std::string timestamp_url;
  // Certificates (PEM) that join the signature's certificate set; none when empty.
  std::filesystem::path extra_certificates;
};

// `image` signed by `signer` with osslsigncode as `options` say. Throws
// std::runtime_error when osslsigncode refuses.
std::vector<uint8_t> SignImage(const std::vector<uint8_t>& image, const TestSigner& signer,
                               const std::filesystem::path& scratch,
                               const SigningOptions& options);

// `image` signed by `signer` with osslsigncode (SHA-256); with `nest`, a
// signed `image` gets a second, nested SHA-512 signature. The certificates in
// the PEM file `extra_certificates`, when given, join the signature's
// certificate set. Throws std::runtime_error when osslsigncode refuses.
std::vector<uint8_t> SignImage(const std::vector<uint8_t>& image, const TestSigner& signer,
                               const std::filesystem::path& scratch, bool nest = false,
                               const std::filesystem::path& extra_certificates = {});

// Signed `image` with an unsigned attribute added to its signer info by
// osslsigncode (an "unauthenticated blob"). Throws std::runtime_error when
// osslsigncode refuses.
std::vector<uint8_t> AddUnauthenticatedBlob(const std::vector<uint8_t>& image,
                                            const std::filesystem::path& scratch);

// A throwaway self-signed certificate of more than `size` bytes (a comment
// extension fills it), as a PEM file in `folder`: bulk for a signature block.
std::filesystem::path MakeBulkyCertificate(const std::filesystem::path& folder, size_t size);

// osslsigncode verify of `file`, trusting `signer` as the root and, when
// given, `time_stamp_root` as the root of time-stamp signers.
ProcessResult VerifySignature(const std::filesystem::path& file, const TestSigner& signer,
                              const std::filesystem::path& scratch,
                              const std::filesystem::path& time_stamp_root = {});

// sbverify of `file`, trusting `signer`: it hashes the image by its section
// table, where osslsigncode hashes the file from end to end.
ProcessResult VerifyBySections(const std::filesystem::path& file, const TestSigner& signer,
                               const std::filesystem::path& scratch);

}  // namespace vireo::test
