#pragma once
// What a payload file was packed from, kept next to it as PAYLOAD.bin.digest,
// so that packing the same content again can keep the file as it is. Times
// cannot tell that: a copy that keeps times, a checkout or `rsync -t` changes
// bytes without a newer time, and a build must never ship the old bytes.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vireo::packer {

// A SHA-256 digest as 64 lower-case hexadecimal digits.
std::string Sha256Hex(const uint8_t* bytes, size_t size);

// The digest of everything that decides a payload's bytes: the tar image, the
// packer program itself (its encoder and settings included; the thread count
// changes no byte). Equal sources give an equal source digest.
std::string PayloadSourceDigest(const std::vector<uint8_t>& tar);

struct PackRecord {
  std::string source_digest;   // PayloadSourceDigest of what was packed
  std::string payload_digest;  // Sha256Hex of the payload file written
};

// The record file of `payload`: the same name with ".digest" appended.
std::filesystem::path PackRecordPath(const std::filesystem::path& payload);

// True when `payload` holds exactly what its record says it was packed into
// from `source_digest`: both the record and the file's own digest agree.
bool PayloadIsUpToDate(const std::filesystem::path& payload, const std::string& source_digest);

// Writes the record of `payload` (replaced atomically). Throws PackerError.
void WritePackRecord(const std::filesystem::path& payload, const PackRecord& record);

}  // namespace vireo::packer
