#include "tools/payload_encoding/lzma_alone_encoder.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "LzmaEnc.h"
#include "payload/lzma_alone_header.h"

namespace vireo {
namespace {

void* Allocate(ISzAllocPtr, size_t bytes) { return std::malloc(bytes); }
void Release(ISzAllocPtr, void* block) { std::free(block); }
const ISzAlloc kAllocator = {Allocate, Release};

// The SDK's stream interfaces come first, so the SDK's pointer is the whole struct.
struct MemoryInput {
  ISeqInStream interface;
  const uint8_t* data;
  size_t remaining;
};

SRes ReadMemory(ISeqInStreamPtr self, void* buffer, size_t* size) {
  auto* input = reinterpret_cast<MemoryInput*>(const_cast<ISeqInStream*>(self));
  const size_t count = *size < input->remaining ? *size : input->remaining;
  if (count) std::memcpy(buffer, input->data, count);
  input->data += count;
  input->remaining -= count;
  *size = count;
  return SZ_OK;
}

struct VectorOutput {
  ISeqOutStream interface;
  std::vector<uint8_t>* bytes;
};

size_t WriteVector(ISeqOutStreamPtr self, const void* buffer, size_t size) {
  auto* output = reinterpret_cast<const VectorOutput*>(self);
  const auto* bytes = static_cast<const uint8_t*>(buffer);
  output->bytes->insert(output->bytes->end(), bytes, bytes + size);
  return size;
}

struct ProgressReport {
  ICompressProgress interface;
  const std::function<void(uint64_t, uint64_t)>* callback;
};

SRes ReportProgress(ICompressProgressPtr self, UInt64 in, UInt64 out) {
  const auto* report = reinterpret_cast<const ProgressReport*>(self);
  (*report->callback)(in, out);
  return SZ_OK;
}

// Owns the encoder handle for the duration of one encoding.
struct EncoderHandle {
  CLzmaEncHandle handle = LzmaEnc_Create(&kAllocator);
  ~EncoderHandle() {
    if (handle) LzmaEnc_Destroy(handle, &kAllocator, &kAllocator);
  }
};

void Check(SRes result, const char* step) {
  if (result != SZ_OK) {
    throw std::runtime_error(std::string("LZMA encoder: ") + step + " failed (SDK error " +
                             std::to_string(result) + ")");
  }
}

}  // namespace

std::vector<uint8_t> EncodeLzmaAlone(const uint8_t* data, size_t size,
                                     const LzmaAloneOptions& options) {
  EncoderHandle encoder;
  if (!encoder.handle) throw std::runtime_error("LZMA encoder: out of memory");

  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.level = options.level;
  props.dictSize = options.dictionary_size;
  props.lc = options.literal_context_bits;
  props.lp = options.literal_position_bits;
  props.pb = options.position_bits;
  props.algo = 1;
  props.fb = options.fast_bytes;
  props.btMode = 1;
  props.numHashBytes = 4;
  props.mc = options.match_cycles;
  props.writeEndMark = options.write_end_marker ? 1 : 0;
  props.numThreads = options.threads;
  Check(LzmaEnc_SetProps(encoder.handle, &props), "setting the properties");
  // Lets the match finder size its buffers to the input; the header keeps the full dictionary.
  LzmaEnc_SetDataSize(encoder.handle, size);

  uint8_t properties[kLzmaPropertiesSize];
  SizeT properties_size = sizeof(properties);
  Check(LzmaEnc_WriteProperties(encoder.handle, properties, &properties_size),
        "writing the properties");

  std::vector<uint8_t> stream(kLzmaAloneHeaderSize);
  WriteLzmaAloneHeader(properties, size, stream.data());
  stream.reserve(kLzmaAloneHeaderSize + size / 2 + 4096);

  MemoryInput input{{ReadMemory}, data, size};
  VectorOutput output{{WriteVector}, &stream};
  ProgressReport progress{{ReportProgress}, &options.progress};
  Check(LzmaEnc_Encode(encoder.handle, &output.interface, &input.interface,
                       options.progress ? &progress.interface : nullptr, &kAllocator, &kAllocator),
        "encoding");
  return stream;
}

}  // namespace vireo
