#pragma once
// An RFC 3161 time-stamping authority on the loopback address for the signing
// tests: a small HTTP server on 127.0.0.1 that answers each time-stamp query
// with `openssl ts -reply`, signed by a certificate made for it. It serves
// from a thread of the test program until it is destroyed.

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

namespace vireo::test {

class LoopbackTimeStampAuthority {
 public:
  // Makes the authority's certificate (extendedKeyUsage critical,
  // timeStamping) and openssl's configuration in `folder`, which must exist,
  // and starts serving on a free port. Throws std::runtime_error on failure.
  explicit LoopbackTimeStampAuthority(const std::filesystem::path& folder);
  ~LoopbackTimeStampAuthority();
  LoopbackTimeStampAuthority(const LoopbackTimeStampAuthority&) = delete;
  LoopbackTimeStampAuthority& operator=(const LoopbackTimeStampAuthority&) = delete;

  std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }
  // The self-signed certificate to trust when verifying its time stamps.
  const std::filesystem::path& certificate() const { return certificate_; }
  int replies() const { return replies_; }

 private:
  void Serve();
  void Answer(int connection);

  std::filesystem::path folder_;
  std::filesystem::path certificate_;
  std::filesystem::path config_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> replies_{0};
  std::thread server_;
};

}  // namespace vireo::test
