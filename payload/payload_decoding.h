#pragma once
// Decoding of the embedded payload resource into the temporary tar file.

#include <windows.h>

#include <cstdint>

namespace vireo {

// Decodes the `size`-byte payload container at `data` in memory and writes the
// whole tar image to `file` with one WriteFile. Returns 0 when the image was
// decoded and all of it written; any other value on failure. Nothing is
// written unless both decoding stages succeeded. All buffers come from the
// process heap and are freed before returning.
uint32_t DecodePayload(const uint8_t* data, uint32_t size, HANDLE file);

}  // namespace vireo
