// corvane-tag: stamps, reads and removes the distributor's tag in a signed
// CorvaneUpdateSetup.exe, without touching what the signature covers.

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "tag/tag_limits.h"
#include "tools/tagger/file_io.h"
#include "tools/tagger/signed_image.h"
#include "tools/tagger/stub_tag_lookup.h"
#include "tools/tagger/tag_commands.h"
#include "tools/tagger/tag_tool_error.h"

namespace {

constexpr char kUsage[] =
    "corvane-tag stamps the distributor's tag into a signed CorvaneUpdateSetup.exe,\n"
    "reads it back as the stub reads it, and removes it. The signature stays valid.\n"
    "\n"
    "Usage:\n"
    "  corvane-tag set STUB.exe TAG [-o OUT.exe]\n"
    "  corvane-tag get STUB.exe\n"
    "  corvane-tag clear STUB.exe [-o OUT.exe]\n"
    "  corvane-tag --help\n"
    "\n"
    "set    puts TAG (for example \"appguid={...}&appname=...&needsadmin=false\") into\n"
    "       a certificate of its own inside the signature block, replacing an\n"
    "       earlier tag. The record area is rounded up to a multiple of 256 bytes,\n"
    "       so a longer tag can later be written in place. TAG must be 1 to 32,453\n"
    "       bytes of printable ASCII without a double quote (the longest tag that\n"
    "       fits the child's command line whatever the work directory), and the\n"
    "       signature block must stay below 64 KiB.\n"
    "get    prints the tag exactly as the stub reads it (the text up to the\n"
    "       record's first zero byte), followed by a newline.\n"
    "clear  removes the tag; the stub then uses its built-in default tag.\n"
    "\n"
    "  -o, --output FILE   write the result to FILE instead of replacing STUB.exe\n"
    "\n"
    "STUB.exe must be a signed 32-bit image whose certificate table ends the file\n"
    "and overlaps neither the headers nor a section.\n"
    "Files are written through a temporary file and renamed: a refused or failed\n"
    "command leaves every file as it was.\n"
    "\n"
    "Exit status: 0 on success; 1 when the command failed or was refused; 2 for a\n"
    "usage error; for get, 3 when the file carries no tag and 4 when it carries\n"
    "one that the stub rejects (both: the stub uses its default tag; the reason\n"
    "is printed on standard error).\n";

constexpr int kFailed = 1;
constexpr int kUsageError = 2;
constexpr int kNoTag = 3;
constexpr int kTagRejected = 4;

// A mistake in the command line: reported with a pointer to --help.
struct UsageError {
  std::string message;
};

// "help" as the command, or --help / -h anywhere before "--" (so that
// `set STUB.exe --help` shows the usage instead of stamping "--help").
bool WantsHelp(const std::vector<std::string>& args) {
  if (args[0] == "help") return true;
  for (const std::string& argument : args) {
    if (argument == "--") return false;
    if (argument == "--help" || argument == "-h") return true;
  }
  return false;
}

// The command's operands and its -o value; `operand_count` operands exactly.
struct Arguments {
  std::vector<std::string> operands;
  std::string output;
};

Arguments Parse(const std::vector<std::string>& args, size_t operand_count, bool takes_output) {
  const std::string& command = args[0];
  Arguments parsed;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& argument = args[i];
    if (takes_output && (argument == "-o" || argument == "--output")) {
      if (i + 1 >= args.size() || args[i + 1].empty()) {
        throw UsageError{argument + " needs a file name"};
      }
      parsed.output = args[++i];
    } else if (takes_output && argument.rfind("--output=", 0) == 0) {
      parsed.output = argument.substr(9);
      if (parsed.output.empty()) throw UsageError{"--output= needs a file name"};
    } else if (argument == "--") {
      parsed.operands.insert(parsed.operands.end(), args.begin() + i + 1, args.end());
      break;
    } else if (argument.size() > 1 && argument[0] == '-' && parsed.operands.size() != 1) {
      // A TAG (the second operand) may start with a dash; nothing else may.
      throw UsageError{command + ": unknown option " + argument};
    } else {
      parsed.operands.push_back(argument);
    }
  }
  if (parsed.operands.size() != operand_count) {
    throw UsageError{command +
                     (operand_count == 2 ? " takes STUB.exe and TAG" : " takes one STUB.exe")};
  }
  return parsed;
}

std::string Describe(vireo::tagger::StubTagStatus status) {
  return status == vireo::tagger::StubTagStatus::kRejected ? "tag rejected" : "no tag";
}

int Set(const std::vector<std::string>& args) {
  const Arguments parsed = Parse(args, 2, true);
  const std::filesystem::path input = parsed.operands[0];
  const std::filesystem::path output =
      parsed.output.empty() ? input : std::filesystem::path(parsed.output);
  const auto result =
      vireo::tagger::SetTag(vireo::tagger::ReadWholeFile(input), parsed.operands[1]);
  vireo::tagger::WriteFileAtomically(output, result.file, input);
  std::printf("%s: tag set (%zu bytes, room for %zu)%s\n", output.c_str(),
              parsed.operands[1].size(), result.record_area,
              result.carriers_removed ? ", replacing the earlier tag" : "");
  return 0;
}

int Get(const std::vector<std::string>& args) {
  const Arguments parsed = Parse(args, 1, false);
  std::vector<uint8_t> file = vireo::tagger::ReadWholeFile(parsed.operands[0]);
  const auto read = vireo::tagger::ReadTagAsStub(file);
  if (read.status == vireo::tagger::StubTagStatus::kFound) {
    // The stub reads such a tag, but its run may still fail: say so.
    if (read.tag.size() > vireo::kMaxTagLength) {
      std::fprintf(stderr,
                   "corvane-tag: %s: warning: the tag has %zu bytes, more than the %zu that fit "
                   "the child's command line in every work directory; the stub refuses to "
                   "start its child when it does not fit\n",
                   parsed.operands[0].c_str(), read.tag.size(), vireo::kMaxTagLength);
    }
    try {
      vireo::tagger::ParseSignedImage(file);
    } catch (const vireo::tagger::TagToolError& error) {
      std::fprintf(stderr, "corvane-tag: %s: warning: set and clear refuse this file: %s\n",
                   parsed.operands[0].c_str(), error.what());
    }
    std::fwrite(read.tag.data(), 1, read.tag.size(), stdout);
    std::fputc('\n', stdout);
    return std::fflush(stdout) == 0 ? 0 : kFailed;
  }
  std::fprintf(stderr, "corvane-tag: %s: %s: %s\n", parsed.operands[0].c_str(),
               Describe(read.status).c_str(), read.reason.c_str());
  return read.status == vireo::tagger::StubTagStatus::kRejected ? kTagRejected : kNoTag;
}

int Clear(const std::vector<std::string>& args) {
  const Arguments parsed = Parse(args, 1, true);
  const std::filesystem::path input = parsed.operands[0];
  const std::filesystem::path output =
      parsed.output.empty() ? input : std::filesystem::path(parsed.output);
  const auto result = vireo::tagger::ClearTag(vireo::tagger::ReadWholeFile(input));
  vireo::tagger::WriteFileAtomically(output, result.file, input);
  std::printf("%s: %s\n", output.c_str(),
              result.carriers_removed ? "tag removed" : "carried no tag");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.empty()) throw UsageError{"no command given"};
    if (WantsHelp(args)) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    const std::string& command = args[0];
    if (command == "set") return Set(args);
    if (command == "get") return Get(args);
    if (command == "clear") return Clear(args);
    throw UsageError{"unknown command " + command};
  } catch (const UsageError& error) {
    std::fprintf(stderr, "corvane-tag: %s\nTry 'corvane-tag --help'.\n", error.message.c_str());
    return kUsageError;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "corvane-tag: error: %s\n", error.what());
    return kFailed;
  }
}
