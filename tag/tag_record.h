#pragma once
// Finds the distributor's tag record in the certificate table of a mapped PE
// image. Plain bytes in, plain bytes out: no system calls, so that host tests
// and fuzzers can feed it any image.
//
// Every offset read from the image is checked against `mapped_size` before it
// is used, with sums that cannot overflow.

#include <cstdint>

#include "tag/tag_record_format.h"

namespace vireo {

// The certificate table as the image's data directory records it.
struct CertificateTableLocation {
  uint32_t offset;  // file offset of the table
  uint32_t size;    // as recorded; bounded only by GetTagBytesFromTable
};

// Where a record's tag lies in the view.
struct TagRecordText {
  uint32_t offset;  // of the tag's first byte, after the length field
  uint32_t length;  // as the length field gives it
};

// LookUpCertificateTable's checks, with the reason for a refusal:
// TagRecordStatus::kFound, or a status up to kTableNotDerSequence. `view` and
// `location` must not be null; *location is unchanged unless kFound.
TagRecordStatus FindCertificateTable(const uint8_t* view, uint32_t mapped_size,
                                     CertificateTableLocation* location);

// GetTagBytesFromTable's checks, with the reason for a refusal: kFound, or a
// status from kTableRunsPastImage to kTextRunsPastTable. `view` and `text` must
// not be null. On kFound *text is the tag's place; from kZeroLength on,
// text->length holds the length field.
TagRecordStatus FindTagRecord(const uint8_t* view, uint32_t mapped_size,
                              CertificateTableLocation location, TagRecordText* text);

// The tag the stub passes on from the `length` bytes of a record: the text up
// to the first zero byte (all of them when there is none). kFound with its
// length in *text_length; kDoubleQuote with the quote's index in *text_length;
// kEmptyText when the first byte is zero (or `length` is 0).
TagRecordStatus FindTagText(const uint8_t* bytes, uint32_t length, uint32_t* text_length);

// True when `view` is a PE image whose certificate table begins a DER sequence
// with a two-byte length: an AMD64 image with a PE32+ optional header, or an
// image of any other machine, read with the PE32 layout. Stores the table's
// place in *location. *location is unchanged on failure.
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
