#include "bench/run_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <stdexcept>
#include <vector>

#include "bench/bench_statistics.h"

namespace vireo::bench {
namespace {

// Budget for the peak working set beyond the resource, the decoded block and
// the dictionary.
constexpr double kSlackBytes = 16 * 1000 * 1000;

double Number(const MeasurementFile& run, const std::string& series, const std::string& key) {
  return ParseNumber(run.Text(series, key));
}

// The median to a tenth, as the report shows it and computes on with it.
double Median(const MeasurementFile& run, const std::string& series, const std::string& key) {
  return Rounded(Summarize(run.Numbers(series, key)).median, 1);
}

// A median of bytes: its whole part.
double MedianBytes(const MeasurementFile& run, const std::string& series, const std::string& key) {
  return std::trunc(Median(run, series, key));
}

std::string Seconds(double ms) { return Fixed(ms / 1000, 2) + " s"; }
std::string Megabytes(double bytes) { return Fixed(bytes / 1e6, 1) + " MB"; }

std::string Ratio(double numerator, double denominator) {
  if (denominator == 0) throw std::invalid_argument("a ratio's denominator is 0");
  return Fixed(numerator / denominator, 2);
}

// How much `value` differs from `base`, in percent with its sign.
std::string Change(double value, double base) {
  if (base == 0) throw std::invalid_argument("a change against 0");
  char text[64];
  std::snprintf(text, sizeof(text), "%+.1f%%", 100 * (value / base - 1));
  return text;
}

std::string Bold(const std::string& text) { return "**" + text + "**"; }

// A table row; an empty cell stays empty.
std::string Row(std::initializer_list<std::string> cells) {
  std::string row = "|";
  for (const std::string& cell : cells) row += cell.empty() ? " |" : " " + cell + " |";
  return row + "\n";
}

std::string Header(const MeasurementFile& run) {
  return "# Whole-run benchmark of CorvaneUpdateSetup.exe\n\n" + run.Text("machine", "date") +
         "; " + run.Text("machine", "processor") + ", " + run.Text("machine", "cores") +
         " cores; load average at start " + run.Text("machine", "load_at_start") + ", at end " +
         run.Text("machine", "load_at_end") + "; " + run.Text("machine", "wine") + "; " +
         run.Text("machine", "7zz") + "; " + run.Text("machine", "compiler") + ". Medians of " +
         run.Text("run", "runs") + " runs.\n\n";
}

std::string EmulationNote(const MeasurementFile& run) {
  if (!run.Has("machine", "emulator")) return "";
  return "**This machine's kernel does not run 32-bit programs: Wine and every Windows program "
         "here ran under\nQEMU's user-mode emulation (" +
         run.Text("machine", "emulator") +
         ").** Ratios between Windows programs (whole run / bare decode, memory) hold;\n"
         "ratios of a Windows program to native 7zz measure the emulator, not the code.\n\n";
}

std::string PayloadLine(const MeasurementFile& run, const std::string& current) {
  const std::string bench = "payload-bench/" + current;
  const std::string& tar = run.Text(bench, "tar_bytes");
  const std::string& payload = run.Text("payload", "bytes");
  return "Payload: " + run.Text(bench, "files") + " files, " +
         WithCommas(run.Text("payload", "folder_bytes")) + " bytes (x86 code " +
         WithCommas(run.Text("payload", "code_bytes")) + " bytes, setup.exe first); tar image " +
         WithCommas(tar) + " bytes; decoded block " +
         WithCommas(run.Text("payload", "block_bytes")) + " bytes; payload resource " +
         WithCommas(payload) + " bytes (" +
         Fixed(100 * ParseNumber(payload) / ParseNumber(tar), 1) +
         "% of the tar image), LZMA dictionary " +
         WithCommas(run.Text("payload", "dictionary_bytes")) + " bytes.\n\n";
}

std::string Results(const MeasurementFile& run, const std::string& current) {
  const std::string bench = "payload-bench/" + current;
  const std::string whole = "whole-run/" + current;
  const double wall = Median(run, whole, "wall_ms");
  const double ws = MedianBytes(run, whole, "peak_working_set");
  const double priv = MedianBytes(run, whole, "peak_private");
  const double base = Median(run, "whole-run-without-payload", "wall_ms");
  const double base_ws = MedianBytes(run, "whole-run-without-payload", "peak_working_set");
  const double base_private = MedianBytes(run, "whole-run-without-payload", "peak_private");
  const double bare = Median(run, "bare-decode", "wall_ms");
  const double bare_start = Median(run, "bare-decode-without-payload", "wall_ms");
  const double bare_lzma = Median(run, "bare-decode", "lzma_ms");
  const double stub_lzma = Median(run, "payload-bench-in-rounds", "lzma_ms");
  const double sevenzip = Median(run, "7zz-x", "wall_ms");
  const double sevenzip_one_thread = Median(run, "7zz-x-one-thread", "wall_ms");
  const double sevenzip_lzma = Median(run, "7zz-lzma", "wall_ms");
  const double attributable = ws - base_ws;
  // What a run must hold at once: the resource, the decoded block and the
  // LZMA dictionary (the tar image is written out as it is decoded, never held).
  const double budget = Number(run, "payload", "bytes") + Number(run, "payload", "block_bytes") +
                        Number(run, "payload", "dictionary_bytes");
  const std::string& host_flags = run.Text("run", "host_flags");

  std::string text = "## Results (decoder flags `" + run.Text("variant/" + current, "flags") +
                     "`, the current default)\n\n" +
                     "| Measure | Value | Aim | How it is measured |\n|---|---|---|---|\n";
  text += Row({"Packing (corvane-pack pack)", Seconds(Number(run, "payload", "pack_ms")), "",
               "wall time of `corvane-pack pack DIR -o payload.bin --launch setup.exe` (" +
                   run.Text("payload", "packed_at") + ")"});
  text += Row({"Decoding: LZMA stage", Seconds(Median(run, bench, "lzma_ms")), "",
               "payload-bench.exe: in process, the stub's payload library; start of decoding to "
               "the LZMA stage freeing its probabilities"});
  text += Row({"Decoding: BCJ2 stage", Seconds(Median(run, bench, "bcj2_ms")), "",
               "payload-bench.exe: from there to the tar image complete, without the writes"});
  text += Row({"Decoding: tar file written", Seconds(Median(run, bench, "write_ms")), "",
               "payload-bench.exe: the writes of the tar image to a PKT file, 1 MiB at a time as "
               "the BCJ2 stage hands it on"});
  text += Row({"**Decoding** (DecodePayload)", Bold(Seconds(Median(run, bench, "decode_ms"))), "",
               "payload-bench.exe: the three above together"});
  text +=
      Row({"**Extraction** (Tar::ExtractToDir)", Bold(Seconds(Median(run, bench, "extract_ms"))),
           "", "payload-bench.exe: the Tar reader unpacking the PKT file into a fresh folder"});
  text += Row({"**Whole run**", Bold(Seconds(wall)), "",
               "bench-run.exe: CreateProcessW of the stub (payload as resource \"B\" 102) to its "
               "exit, child setup.exe and clean-up included"});
  text +=
      Row({"Bare in-memory decode (the floor)",
           Seconds(bare) + ", " + Megabytes(MedianBytes(run, "bare-decode", "peak_working_set")) +
               " working set, " + Megabytes(MedianBytes(run, "bare-decode", "peak_private")) +
               " private",
           "",
           "bench-run.exe of bare-decode.exe: the payload file mapped, LzmaDecode in one call, "
           "BCJ2 into memory, nothing written; same SDK and decoder flags"});
  text += Row({"**Whole run / bare decode**", Bold(Ratio(wall, bare)), "≤ 1.05", ""});
  text += Row({"Start-up and stop without payload",
               "stub " + Seconds(base) + ", bare decoder " + Seconds(bare_start), "",
               "bench-run.exe of the stub with a one-byte payload (process start, COM, logging "
               "set-up, the work folder; stops at decoding) and of bare-decode.exe refusing a "
               "one-byte file"});
  text += Row({"Whole run / bare decode, both without their start-up and stop",
               Ratio(Rounded(wall - base, 1), Rounded(bare - bare_start, 1)), "",
               "(whole run − the stub's row above) / (bare decode − the bare decoder's): the "
               "payload's own share, with the child, the extraction and the self-copy; emulation "
               "makes start-up far dearer than natively"});
  text += Row({"7zz x (same files, BCJ2 + LZMA d=8m)", Seconds(sevenzip), "",
               "wall time of native `7zz x` to a folder"});
  text += Row({"7zz's LZMA layer", Seconds(sevenzip_lzma), "",
               "wall time of native `7zz x -tlzma -so payload.bin` to /dev/null: the stub's own "
               "LZMA stream"});
  text += Row({"Bare decode's LZMA layer", Seconds(bare_lzma), "",
               "bare-decode.exe's LzmaDecode call alone"});
  text +=
      Row({"Stub's LZMA layer", Seconds(stub_lzma), "",
           "payload-bench.exe's LZMA stage, in the rounds of the whole runs, the floor and 7zz"});
  text += Row(
      {"**Stub's LZMA layer / 7zz's LZMA layer**", Bold(Ratio(stub_lzma, sevenzip_lzma)), "≤ 1.05",
       "the stub's LZMA layer over 7zz's (bare decode's: " + Ratio(bare_lzma, sevenzip_lzma) +
           ")"});
  text += Row({"Same C decoder built natively / 7zz's LZMA layer",
               Ratio(Median(run, "payload-bench-host", "lzma_ms"), sevenzip_lzma), "",
               "payload-bench-host's LZMA stage (x86-64 Linux, `" + host_flags +
                   "`) over 7zz's: the code against 7zz's on the same processor, without the "
                   "emulator; it does not show the 32-bit build's own cost"});
  text += Row({"**Whole run / 7zz x**", Bold(Ratio(wall, sevenzip)), "≤ 1.05", ""});
  text += Row({"7zz x -mmt=1, for scale",
               Seconds(sevenzip_one_thread) +
                   " (whole run / this: " + Ratio(wall, sevenzip_one_thread) + ")",
               "", "the same on one thread"});
  text += Row({"Peak working set", Megabytes(ws), "",
               "bench-run.exe: largest PeakWorkingSetSize of the stub while it runs (Wine: the "
               "process's resident high-water mark)"});
  text += Row({"Peak private memory", Megabytes(priv), "",
               "bench-run.exe: largest PagefileUsage while it runs (Wine: resident anonymous "
               "memory)"});
  text += Row({"Wine and stub without payload",
               Megabytes(base_ws) + " working set, " + Megabytes(base_private) + " private", "",
               "the same stub with a one-byte payload, which stops at decoding"});
  text += Row({"**Peak working set for the payload**", Bold(Megabytes(attributable)),
               "≤ " + Megabytes(budget + kSlackBytes),
               "peak working set minus the line above; budget = resource + decoded block + "
               "dictionary (" +
                   Megabytes(budget) + ") + 16 MB"});
  text += Row({"**Peak working set for the payload / budget**",
               Bold(Ratio(attributable, budget + kSlackBytes)), "≤ 1.00", ""});
  text += Row({"Peak private memory for the payload",
               Megabytes(priv - base_private) + " (" +
                   Ratio(priv - base_private, budget + kSlackBytes) + " of the budget)",
               "", "peak private memory minus the stub's without payload"});
  text += Row({"Payload heap peak", Megabytes(Number(run, bench, "heap_peak_bytes")), "",
               "payload-bench.exe: most bytes allocated at once by the decoding"});
  text += Row({"**Stub size without payload**",
               Bold(WithCommas(run.Text("stub", "bytes_without_payload")) + " bytes"), "≤ 131,072",
               "the stub built with a one-byte payload"});
  text += Row({"Stub size with this payload",
               WithCommas(run.Text("stub", "bytes_with_payload")) + " bytes", "", ""});
  text +=
      "\n7zz: `7zz a -t7z files.7z -m0=BCJ2 -m1=LZMA:d=8m -m2=LZMA:d=1m -m3=LZMA:d=1m "
      "-mb0:1 -mb0s1:2 -mb0s2:3` (" +
      Seconds(Number(run, "7zz-archive", "pack_ms")) + " to build; method `" +
      run.Text("7zz-archive", "method") + "`, " + run.Text("7zz-archive", "blocks") +
      " block), then `7zz x -y -oDIR files.7z` (its default threads).\n\n";
  return text;
}

std::string DecoderFlags(const MeasurementFile& run, const std::string& current) {
  const std::string fastest = FastestVariant(run);
  const double current_cpu = Median(run, "payload-bench/" + current, "decode_cpu_ms");
  const double sevenzip = Median(run, "7zz-x", "wall_ms");
  std::string text =
      "## Decoder flags\n\nEach set is the SDK decoder's CORVANE_LZMA_DECODER_FLAGS in a build "
      "folder of its own (" +
      run.Text("run", "variant_folder") + "); profile-guided sets were trained on a " +
      run.Text("run", "train_mb") +
      " MB payload of another seed and checked with -Werror=missing-profile. Variants are ranked "
      "by processor time, which does not grow while other processes hold the processors; a "
      "variant whose decoder object code is identical to another's shows the measurement noise.\n\n"
      "| Variant | Flags | LZMA stage | BCJ2 stage | Both | Both, processor time | vs `" +
      run.Text("variant/" + current, "flags") +
      "` | Whole run | Whole run / 7zz x |\n|---|---|---|---|---|---|---|---|---|\n";
  for (const std::string& name : run.SeriesNamed("variant/")) {
    const std::string bench = "payload-bench/" + name;
    const double lzma = Median(run, bench, "lzma_ms");
    const double bcj2 = Median(run, bench, "bcj2_ms");
    const double cpu = Median(run, bench, "decode_cpu_ms");
    std::string mark = name == fastest ? " (fastest)" : "";
    if (run.Has("variant/" + name, "same_code_as")) {
      mark += " (same code as " + run.Text("variant/" + name, "same_code_as") + ")";
    }
    std::string whole = "–";
    std::string relative = "–";
    if (run.Has("whole-run/" + name, "wall_ms")) {
      const double wall = Median(run, "whole-run/" + name, "wall_ms");
      whole = Seconds(wall);
      relative = Ratio(wall, sevenzip);
    }
    text += Row({name + mark, "`" + run.Text("variant/" + name, "flags") + "`", Seconds(lzma),
                 Seconds(bcj2), Seconds(Rounded(lzma + bcj2, 1)), Seconds(cpu),
                 Change(cpu, current_cpu), whole, relative});
  }
  const double host_lzma = Median(run, "payload-bench-host", "lzma_ms");
  const double host_bcj2 = Median(run, "payload-bench-host", "bcj2_ms");
  const double host_cpu = Median(run, "payload-bench-host", "decode_cpu_ms");
  text += Row({"for scale: native x86-64",
               "`" + run.Text("run", "host_flags") + "` (host build, Linux)", Seconds(host_lzma),
               Seconds(host_bcj2), Seconds(Rounded(host_lzma + host_bcj2, 1)), Seconds(host_cpu),
               Change(host_cpu, current_cpu), "–", "–"});
  return text;
}

// The 64-bit stub, measured natively in the same rounds: its whole run
// against its own floor, its LZMA layer against 7zz's on its own payload,
// and its memory against the same budget.
std::string Native64(const MeasurementFile& run) {
  const double wall = Median(run, "x64/whole-run", "wall_ms");
  const double ws = MedianBytes(run, "x64/whole-run", "peak_working_set");
  const double priv = MedianBytes(run, "x64/whole-run", "peak_private");
  const double base = Median(run, "x64/whole-run-without-payload", "wall_ms");
  const double base_ws = MedianBytes(run, "x64/whole-run-without-payload", "peak_working_set");
  const double base_private = MedianBytes(run, "x64/whole-run-without-payload", "peak_private");
  const double bare = Median(run, "x64/bare-decode", "wall_ms");
  const double bare_start = Median(run, "x64/bare-decode-without-payload", "wall_ms");
  const double bare_lzma = Median(run, "x64/bare-decode", "lzma_ms");
  const double stub_lzma = Median(run, "x64/payload-bench", "lzma_ms");
  const double sevenzip_lzma = Median(run, "x64/7zz-lzma", "wall_ms");
  const double attributable = ws - base_ws;
  const double budget = Number(run, "x64/payload", "bytes") +
                        Number(run, "x64/payload", "block_bytes") +
                        Number(run, "x64/payload", "dictionary_bytes");
  std::string text =
      "## Natively: the 64-bit stub (decoder flags `" + run.Text("x64/run", "flags") + "`)\n\n" +
      "The windows-x64 preset's build (" + run.Text("x64/run", "variant_folder") + ", " +
      run.Text("machine", "compiler64") +
      ") under Wine's 64-bit loader, without the emulator, in the rounds above. Its payload holds "
      "the same files with the 64-bit demo child as setup.exe: resource " +
      WithCommas(run.Text("x64/payload", "bytes")) + " bytes, decoded block " +
      WithCommas(run.Text("x64/payload", "block_bytes")) + " bytes, tar image " +
      WithCommas(run.Text("x64/payload-bench", "tar_bytes")) + " bytes.\n\n" +
      "| Measure | Value | Aim | How it is measured |\n|---|---|---|---|\n";
  text += Row({"**Whole run**", Bold(Seconds(wall)), "",
               "64-bit bench-run.exe: CreateProcessW of the stub to its exit, child setup.exe "
               "and clean-up included"});
  text += Row({"Bare in-memory decode (the floor)",
               Seconds(bare) + ", " +
                   Megabytes(MedianBytes(run, "x64/bare-decode", "peak_working_set")) +
                   " working set, " +
                   Megabytes(MedianBytes(run, "x64/bare-decode", "peak_private")) + " private",
               "", "64-bit bare-decode.exe of the same payload"});
  text += Row({"**Whole run / bare decode**", Bold(Ratio(wall, bare)), "≤ 1.05 (1.03)", ""});
  text += Row({"Start-up and stop without payload",
               "stub " + Seconds(base) + ", bare decoder " + Seconds(bare_start), "",
               "the 64-bit stub with a one-byte payload, and bare-decode.exe refusing a "
               "one-byte file"});
  text += Row({"Whole run / bare decode, both without their start-up and stop",
               Ratio(Rounded(wall - base, 1), Rounded(bare - bare_start, 1)), "", ""});
  text += Row({"Decoding in process: LZMA stage, BCJ2 stage, tar file written; extraction",
               Seconds(stub_lzma) + ", " + Seconds(Median(run, "x64/payload-bench", "bcj2_ms")) +
                   ", " + Seconds(Median(run, "x64/payload-bench", "write_ms")) + "; " +
                   Seconds(Median(run, "x64/payload-bench", "extract_ms")),
               "", "64-bit payload-bench.exe, in the rounds"});
  text += Row({"7zz's LZMA layer", Seconds(sevenzip_lzma), "",
               "native `7zz x -tlzma -so` of the 64-bit stub's payload to /dev/null"});
  text += Row({"**Stub's LZMA layer / 7zz's LZMA layer**", Bold(Ratio(stub_lzma, sevenzip_lzma)),
               "≤ 1.05",
               "payload-bench.exe's LZMA stage over 7zz's (bare decode's " + Seconds(bare_lzma) +
                   ": " + Ratio(bare_lzma, sevenzip_lzma) + ")"});
  // Measurement files from before this row have no block_fault_ms.
  if (run.Has("x64/payload-bench", "block_fault_ms")) {
    const double faults = Median(run, "x64/payload-bench", "block_fault_ms");
    text += Row({"The decoded block's page faults", Seconds(faults), "",
                 "64-bit payload-bench.exe: a fresh block of the decoded block's size allocated, "
                 "written once per page and freed, before decoding; the LZMA stage decodes into "
                 "such a block, where 7zz's layer reuses a dictionary-sized buffer"});
    text += Row({"Stub's LZMA layer less those faults / 7zz's LZMA layer",
                 Ratio(Rounded(stub_lzma - faults, 1), sevenzip_lzma), "",
                 "the decoding itself against 7zz's"});
  }
  text += Row({"Peak working set, peak private memory",
               Megabytes(ws) + ", " + Megabytes(priv), "", "64-bit bench-run.exe"});
  text += Row({"Wine and stub without payload",
               Megabytes(base_ws) + " working set, " + Megabytes(base_private) + " private", "",
               "the 64-bit stub with a one-byte payload"});
  text += Row({"**Peak working set for the payload**", Bold(Megabytes(attributable)),
               "≤ " + Megabytes(budget + kSlackBytes),
               "budget = resource + decoded block + dictionary (" + Megabytes(budget) +
                   ") + 16 MB"});
  text += Row({"**Peak working set for the payload / budget**",
               Bold(Ratio(attributable, budget + kSlackBytes)), "≤ 1.00", ""});
  text += Row({"Peak private memory for the payload",
               Megabytes(priv - base_private) + " (" +
                   Ratio(priv - base_private, budget + kSlackBytes) + " of the budget)",
               "", ""});
  text += Row({"Payload heap peak",
               Megabytes(Number(run, "x64/payload-bench", "heap_peak_bytes")), "",
               "64-bit payload-bench.exe"});
  text += Row({"Stub size without payload",
               WithCommas(run.Text("x64/stub", "bytes_without_payload")) + " bytes", "",
               "the 64-bit stub built with a one-byte payload"});
  return text + "\n";
}

}  // namespace

std::string FastestVariant(const MeasurementFile& run) {
  std::string fastest;
  double least = 0;
  for (const std::string& name : run.SeriesNamed("variant/")) {
    const double cpu = Median(run, "payload-bench/" + name, "decode_cpu_ms");
    if (fastest.empty() || cpu < least) {
      fastest = name;
      least = cpu;
    }
  }
  if (fastest.empty()) throw std::invalid_argument("no variant/ series measured");
  return fastest;
}

std::string RunReport(const MeasurementFile& run) {
  const std::string& current = run.Text("run", "current");
  const std::vector<std::string> variants = run.SeriesNamed("variant/");
  if (std::find(variants.begin(), variants.end(), current) == variants.end()) {
    throw std::invalid_argument("the current variant " + current + " has no variant/ series");
  }
  // Measurement files from before the 64-bit stub have no x64/ series.
  const std::string native = run.Has("x64/run", "flags") ? Native64(run) : "";
  return Header(run) + EmulationNote(run) + PayloadLine(run, current) + Results(run, current) +
         native + DecoderFlags(run, current);
}

}  // namespace vireo::bench
