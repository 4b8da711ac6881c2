#include "tools/payload_encoding/bcj2_encoder.h"

#include <cstring>
#include <stdexcept>

#include "Bcj2.h"
#include "payload/bcj2_block_header.h"

namespace vireo {
namespace {

// One output stream: the bytes written so far at the front of `bytes`.
struct Output {
  std::vector<uint8_t> bytes;
  size_t used = 0;
};

// One run of the encoder over input that is, or is not, inside a file.
struct Segment {
  uint64_t begin;
  uint64_t end;
  bool is_file;
};

std::vector<Segment> SplitIntoSegments(size_t size, const Bcj2EncoderOptions& options) {
  std::vector<Segment> segments;
  if (options.files.empty()) {
    segments.push_back({0, size, true});
    return segments;
  }
  uint64_t position = 0;
  for (const Bcj2FileRange& file : options.files) {
    if (file.offset < position || file.offset + file.size > size) {
      throw std::invalid_argument("BCJ2 file ranges must be sorted and inside the input");
    }
    if (file.offset > position) segments.push_back({position, file.offset, false});
    if (file.size > 0) segments.push_back({file.offset, file.offset + file.size, true});
    position = file.offset + file.size;
  }
  if (position < size) segments.push_back({position, size, false});
  return segments;
}

// Runs the encoder until it needs more input or has finished, growing any
// output stream it fills. Branch-target streams grow in whole 4-byte units.
void RunEncoder(CBcj2Enc* encoder, Output* outputs) {
  for (;;) {
    for (int i = 0; i < BCJ2_NUM_STREAMS; ++i) {
      encoder->bufs[i] = outputs[i].bytes.data() + outputs[i].used;
      encoder->lims[i] = outputs[i].bytes.data() + outputs[i].bytes.size();
    }
    Bcj2Enc_Encode(encoder);
    for (int i = 0; i < BCJ2_NUM_STREAMS; ++i) {
      outputs[i].used = static_cast<size_t>(encoder->bufs[i] - outputs[i].bytes.data());
    }
    if (encoder->state < BCJ2_NUM_STREAMS) {
      std::vector<uint8_t>& full = outputs[encoder->state].bytes;
      full.resize(full.size() * 2 + 4096);
      continue;
    }
    return;
  }
}

}  // namespace

Bcj2Streams EncodeBcj2Streams(const uint8_t* data, size_t size, const Bcj2EncoderOptions& options) {
  Output outputs[BCJ2_NUM_STREAMS];
  outputs[BCJ2_STREAM_MAIN].bytes.resize(size + 16);
  for (int i = BCJ2_STREAM_CALL; i < BCJ2_NUM_STREAMS; ++i) {
    outputs[i].bytes.resize((size / 32 + 4096) & ~static_cast<size_t>(3));
  }

  CBcj2Enc encoder;
  Bcj2Enc_Init(&encoder);
  const std::vector<Segment> segments = SplitIntoSegments(size, options);
  static const uint8_t kNothing = 0;
  if (segments.empty()) {
    encoder.src = encoder.srcLim = &kNothing;
  }
  for (size_t s = 0; s < segments.size(); ++s) {
    const Segment& segment = segments[s];
    encoder.src = data + segment.begin;
    encoder.srcLim = data + segment.end;
    // Every segment but the last ends as a block, so that no branch is
    // converted across a file boundary and the limits below apply to it alone.
    encoder.finishMode = s + 1 < segments.size() ? BCJ2_ENC_FINISH_MODE_END_BLOCK
                                                 : BCJ2_ENC_FINISH_MODE_END_STREAM;
    encoder.fileIp64 = segment.begin;
    if (options.files.empty()) {
      encoder.fileSize64_minus1 = BCJ2_ENC_FileSizeField_UNLIMITED;
    } else {
      Bcj2Enc_SET_FileSize(&encoder, segment.end - segment.begin);
    }
    encoder.relatLimit = segment.is_file ? options.relative_limit : 0;
    if (s + 1 < segments.size()) RunEncoder(&encoder, outputs);
  }
  encoder.finishMode = BCJ2_ENC_FINISH_MODE_END_STREAM;
  RunEncoder(&encoder, outputs);
  if (encoder.state != BCJ2_ENC_STATE_FINISHED || !Bcj2Enc_IsFinished(&encoder)) {
    throw std::logic_error("BCJ2 encoder did not finish its stream");
  }

  Bcj2Streams streams;
  std::vector<uint8_t>* targets[BCJ2_NUM_STREAMS] = {&streams.main, &streams.call, &streams.jump,
                                                     &streams.range_coder};
  for (int i = 0; i < BCJ2_NUM_STREAMS; ++i) {
    outputs[i].bytes.resize(outputs[i].used);
    targets[i]->swap(outputs[i].bytes);
  }
  return streams;
}

std::vector<uint8_t> BuildBcj2Block(uint32_t output_size, const Bcj2Streams& streams) {
  const std::vector<uint8_t>* parts[kBcj2StreamCount] = {&streams.main, &streams.call,
                                                         &streams.jump, &streams.range_coder};
  uint64_t total = kBcj2BlockHeaderSize;
  Bcj2BlockHeader header{};
  header.output_size = output_size;
  for (int i = 0; i < kBcj2StreamCount; ++i) {
    if (parts[i]->size() != static_cast<uint32_t>(parts[i]->size())) throw std::length_error("BCJ2 stream of 4 GiB or more");
    header.stream_sizes[i] = static_cast<uint32_t>(parts[i]->size());
    total += parts[i]->size();
  }
  if (total > UINT32_MAX) throw std::length_error("BCJ2 block of 4 GiB or more");
  std::vector<uint8_t> block(kBcj2BlockHeaderSize);
  block.reserve(total);
  WriteBcj2BlockHeader(header, block.data());
  for (const std::vector<uint8_t>* part : parts) block.insert(block.end(), part->begin(), part->end());
  return block;
}

std::vector<uint8_t> EncodeBcj2Block(const uint8_t* data, size_t size,
                                     const Bcj2EncoderOptions& options) {
  if (size != static_cast<uint32_t>(size)) throw std::length_error("input of 4 GiB or more");
  return BuildBcj2Block(static_cast<uint32_t>(size), EncodeBcj2Streams(data, size, options));
}

}  // namespace vireo
