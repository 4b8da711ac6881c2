#pragma once
// Decoding of the embedded payload resource into the temporary tar file.

#include <windows.h>

#include <cstdint>

namespace vireo {

enum class PayloadFileStatus : uint32_t {
  kOk = 0,
  kDecodeFailed,  // the payload did not decode (DecodePayloadToMemory's status was logged)
  kWriteFailed,   // WriteFile failed or wrote less than the whole image
};

// Decodes the `size`-byte payload container at `data` in memory and writes the
// whole tar image to `file` with one WriteFile. Nothing is written unless both
// decoding stages succeeded. A failure is logged here, and GetLastError() then
// holds its cause (ERROR_NOT_ENOUGH_MEMORY, ERROR_INVALID_DATA or the write's
// error). All buffers come from the process heap and are freed before
// returning.
PayloadFileStatus DecodePayload(const uint8_t* data, uint32_t size, HANDLE file);

}  // namespace vireo
