#pragma once
// The whole-run benchmark's Markdown report (bench/run_bench.sh), written
// from the run's measurement file (bench/measurement_file.h). Every median
// is taken to a tenth, as the report's figures are, before anything is
// computed from it.
//
// The series it reads, each figure once per run unless it says otherwise:
//
//   run        once: runs, current (the variant of the current decoder
//              flags), host_flags, train_mb, variant_folder
//   machine    once: date, processor, cores, load_at_start, load_at_end, wine,
//              7zz, compiler, and emulator when QEMU ran the Windows programs
//   payload    once: bytes, folder_bytes, code_bytes, block_bytes,
//              dictionary_bytes, pack_ms, packed_at
//   7zz-archive  once: pack_ms, method, blocks
//   stub       once: bytes_without_payload, bytes_with_payload
//   variant/NAME   once per decoder flag set, in the report's order: flags,
//              and same_code_as when its decoder code is another's
//   payload-bench/NAME   payload-bench.exe's output, the variants' rounds
//                        (the current variant's last run gives the tar
//                        image's size, its member count and the heap peak)
//   payload-bench-host   payload-bench-host's output
//   whole-run/NAME       bench-run.exe of the stub (the current variant's,
//                        and the fastest's)
//   whole-run-without-payload   bench-run.exe of the stub with a one-byte payload
//   bare-decode, bare-decode-without-payload   bench-run.exe of bare-decode.exe
//                        on the payload and on a one-byte file
//   payload-bench-in-rounds   payload-bench.exe of the current variant, in
//                        the rounds of the whole runs
//   7zz-x, 7zz-x-one-thread, 7zz-lzma   wall_ms of 7zz's runs
//
// and, for the 64-bit stub measured natively in the same rounds (a report
// without x64/run has no section of it):
//
//   x64/run      once: flags, variant_folder; and machine compiler64
//   x64/payload  once: bytes, block_bytes, dictionary_bytes
//   x64/stub     once: bytes_without_payload, bytes_with_payload
//   x64/whole-run, x64/whole-run-without-payload, x64/bare-decode,
//   x64/bare-decode-without-payload   as their 32-bit namesakes
//   x64/payload-bench   payload-bench.exe's output, in the rounds
//   x64/7zz-lzma        wall_ms of 7zz's LZMA layer on the 64-bit payload

#include <string>

#include "bench/measurement_file.h"

namespace vireo::bench {

// The variant whose two decoding stages took the least processor time
// (payload-bench/NAME decode_cpu_ms); the first of equals.
std::string FastestVariant(const MeasurementFile& run);

// The report, ending in a newline. Throws std::invalid_argument when a
// figure it needs is missing or not a number, or a ratio would divide by zero.
std::string RunReport(const MeasurementFile& run);

}  // namespace vireo::bench
