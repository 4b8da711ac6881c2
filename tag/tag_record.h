#pragma once
// Finds the distributor's tag record in the certificate table of a mapped PE
// image. Plain bytes in, plain bytes out: no system calls, so that host tests
// and fuzzers can feed it any image.
//
// Every offset read from the image is checked against `mapped_size` before it
// is used, with sums that cannot overflow.

#include <cstdint>

namespace vireo {

// The certificate table as the image's data directory records it.
struct CertificateTableLocation {
  uint32_t offset;  // file offset of the table
  uint32_t size;    // as recorded; bounded only by GetTagBytesFromTable
};

// True when `view` is a PE image (any machine but AMD64, read with the 32-bit
// optional-header layout) whose certificate table begins a DER sequence with a
// two-byte length; stores the table's place in *location. *location is
// unchanged on failure.
bool LookUpCertificateTable(const uint8_t* view, uint32_t mapped_size,
                            CertificateTableLocation* location);

// Reads the tag record out of the table at `location` (as LookUpCertificateTable
// found it). With a null `buffer`, stores the buffer size the tag needs (its
// length plus a terminator) in *size. Otherwise *size must hold at least that
// much; the tag bytes and one zero byte are copied into `buffer` and *size is
// left as it was. False when the table or its record is out of bounds, holds no
// record, or the record is empty; `buffer` and *size are unchanged then.
bool GetTagBytesFromTable(const uint8_t* view, uint32_t mapped_size,
                          CertificateTableLocation location, uint8_t* buffer, int32_t* size);

// LookUpCertificateTable followed by GetTagBytesFromTable. Also false when
// `view` or `size` is null. `buffer` and *size are unchanged on failure.
bool GetTagBytes(const uint8_t* view, uint32_t mapped_size, uint8_t* buffer, int32_t* size);

}  // namespace vireo
