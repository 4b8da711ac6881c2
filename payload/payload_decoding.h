#pragma once
// Decoding of the embedded payload resource into the temporary tar file.

#include <windows.h>

#include <cstdint>

namespace vireo {

enum class PayloadFileStatus : uint32_t {
  kOk = 0,
  kDecodeFailed,  // the payload did not decode (the decoding status was logged)
  kWriteFailed,   // WriteFile failed or wrote less than it was given
};

// Decodes the `size`-byte payload container at `data` and writes the tar image
// to `file` chunk by chunk as it is decoded (the image is never whole in
// memory). Nothing is written when the LZMA stage fails; a BCJ2 stream that
// turns out bad may leave part of the image written, which the caller removes
// with the file. A failure is logged here, and GetLastError() then holds its
// cause (ERROR_NOT_ENOUGH_MEMORY, ERROR_INVALID_DATA or the write's error).
// All buffers come from the process heap and are freed before returning.
PayloadFileStatus DecodePayload(const uint8_t* data, uint32_t size, HANDLE file);

}  // namespace vireo
