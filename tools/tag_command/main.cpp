// corvane-tag: stamps, reads and removes the distributor's tag in a signed
// CorvaneUpdateSetup.exe, without touching what the signature covers.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tag/tag_limits.h"
#include "tools/common/file_io.h"
#include "tools/common/tool_main.h"
#include "tools/tagger/signed_image.h"
#include "tools/tagger/stub_tag_lookup.h"
#include "tools/tagger/tag_commands.h"
#include "tools/tagger/tag_list.h"
#include "tools/tagger/tag_tool_error.h"
#include "tools/tag_server/server_options.h"
#include "tools/tag_server/tag_server.h"

namespace {

constexpr char kUsageStart[] =
    "corvane-tag stamps the distributor's tag into a signed CorvaneUpdateSetup.exe,\n"
    "reads it back as the stub reads it, and removes it. The signature stays valid.\n"
    "\n"
    "Usage:\n"
    "  corvane-tag set STUB.exe TAG [-o OUT.exe]\n"
    "  corvane-tag get STUB.exe\n"
    "  corvane-tag clear STUB.exe [-o OUT.exe]\n"
    "  corvane-tag set-many STUB.exe TAGS.txt -o DIR\n"
    "  corvane-tag serve --stub STUB.exe [--listen ADDR:PORT] [OPTIONS]\n"
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
    "set-many  writes one tagged copy of STUB.exe into DIR per line of TAGS.txt,\n"
    "       each the same bytes as set writes. A line holds the file name, one tab\n"
    "       or space, and the tag to the end of the line; empty lines and lines\n"
    "       starting with '#' are skipped. A name must end in .exe and must not hold\n"
    "       a path separator, \"..\", a character Windows refuses, or repeat another\n"
    "       line's name in any letter case. Every line is checked first: when any\n"
    "       is refused, each such line is reported with its number and nothing is\n"
    "       written.\n";

constexpr char kUsageEnd[] =
    "\n"
    "  -o, --output FILE   write the result to FILE instead of replacing STUB.exe\n"
    "                      (set-many: the folder to write into, made if missing)\n"
    "\n"
    "STUB.exe must be a signed 32-bit (PE32) or 64-bit (PE32+) image whose\n"
    "certificate table ends the file and overlaps neither the headers nor a\n"
    "section.\n"
    "Files are written through a temporary file and renamed: a refused or failed\n"
    "command leaves every file as it was.\n"
    "\n"
    "Exit status: 0 on success; 1 when the command failed or was refused; 2 for a\n"
    "usage error; for get, 3 when the file carries no tag and 4 when it carries\n"
    "one that the stub rejects (both: the stub uses its default tag; the reason\n"
    "is printed on standard error).\n";

// Beside vireo::tools::kExitFailed and kExitUsageError, for get.
constexpr int kNoTag = 3;
constexpr int kTagRejected = 4;

using vireo::tools::UsageError;

// "help" as the command, or --help / -h anywhere before "--" (so that
// `set STUB.exe --help` shows the usage instead of stamping "--help").
bool WantsHelp(const std::vector<std::string>& args) {
  if (!args.empty() && args[0] == "help") return true;
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

Arguments Parse(const std::vector<std::string>& args, size_t operand_count, bool takes_output,
                const char* operands_usage) {
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
  if (parsed.operands.size() != operand_count) throw UsageError{command + operands_usage};
  return parsed;
}

std::string Describe(vireo::tagger::StubTagStatus status) {
  return status == vireo::tagger::StubTagStatus::kRejected ? "tag rejected" : "no tag";
}

int Set(const std::vector<std::string>& args) {
  const Arguments parsed = Parse(args, 2, true, " takes STUB.exe and TAG");
  const std::filesystem::path input = parsed.operands[0];
  const std::filesystem::path output =
      parsed.output.empty() ? input : std::filesystem::path(parsed.output);
  const auto result =
      vireo::tagger::SetTag(vireo::tools::ReadWholeFile(input), parsed.operands[1]);
  vireo::tools::WriteFileAtomically(output, result.file, input);
  std::printf("%s: tag set (%zu bytes, room for %zu)%s\n", output.c_str(),
              parsed.operands[1].size(), result.record_area,
              result.carriers_removed ? ", replacing the earlier tag" : "");
  return 0;
}

int Get(const std::vector<std::string>& args) {
  const Arguments parsed = Parse(args, 1, false, " takes one STUB.exe");
  std::vector<uint8_t> file = vireo::tools::ReadWholeFile(parsed.operands[0]);
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
    return std::fflush(stdout) == 0 ? 0 : vireo::tools::kExitFailed;
  }
  std::fprintf(stderr, "corvane-tag: %s: %s: %s\n", parsed.operands[0].c_str(),
               Describe(read.status).c_str(), read.reason.c_str());
  return read.status == vireo::tagger::StubTagStatus::kRejected ? kTagRejected : kNoTag;
}

int Clear(const std::vector<std::string>& args) {
  const Arguments parsed = Parse(args, 1, true, " takes one STUB.exe");
  const std::filesystem::path input = parsed.operands[0];
  const std::filesystem::path output =
      parsed.output.empty() ? input : std::filesystem::path(parsed.output);
  const auto result = vireo::tagger::ClearTag(vireo::tools::ReadWholeFile(input));
  vireo::tools::WriteFileAtomically(output, result.file, input);
  std::printf("%s: %s\n", output.c_str(),
              result.carriers_removed ? "tag removed" : "carried no tag");
  return 0;
}

// Checks every line of the list, then writes every stub, or nothing.
int SetMany(const std::vector<std::string>& args) {
  const Arguments parsed = Parse(args, 2, true, " takes STUB.exe and TAGS.txt");
  if (parsed.output.empty()) throw UsageError{"set-many needs -o DIR, the folder to write into"};
  const std::filesystem::path input = parsed.operands[0];
  const std::string list_name = parsed.operands[1];
  const std::filesystem::path folder = parsed.output;

  const std::vector<uint8_t> list_bytes = vireo::tools::ReadWholeFile(list_name);
  vireo::tagger::TagList list =
      vireo::tagger::ParseTagList(std::string(list_bytes.begin(), list_bytes.end()));
  vireo::tagger::BatchTagger tagger(vireo::tools::ReadWholeFile(input));

  struct Planned {
    const vireo::tagger::TagListEntry* entry;
    vireo::tagger::PlannedStub stub;
  };
  std::vector<Planned> planned;
  for (const vireo::tagger::TagListEntry& entry : list.entries) {
    try {
      planned.push_back({&entry, tagger.Plan(entry.tag)});
    } catch (const vireo::tagger::TagToolError& error) {
      list.problems.push_back({entry.line, error.what()});
    }
  }
  if (!list.problems.empty()) {
    std::sort(list.problems.begin(), list.problems.end(),
              [](const auto& a, const auto& b) { return a.line < b.line; });
    for (const auto& problem : list.problems) {
      std::fprintf(stderr, "corvane-tag: %s:%zu: %s\n", list_name.c_str(), problem.line,
                   problem.message.c_str());
    }
    throw vireo::tagger::TagToolError(std::to_string(list.problems.size()) + " line" +
                                      (list.problems.size() == 1 ? "" : "s") + " of " +
                                      list_name + " refused; nothing written");
  }
  if (planned.empty()) {
    throw vireo::tagger::TagToolError(list_name + " names no stub; nothing written");
  }

  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    throw vireo::tagger::TagToolError("cannot make the folder " + folder.string() + ": " +
                                      error.message());
  }
  for (const Planned& item : planned) {
    const std::filesystem::path output = folder / item.entry->name;
    tagger.Write(item.stub, output, input);
    std::printf("%s: tag set (%zu bytes, room for %zu)\n", output.c_str(),
                item.entry->tag.size(), item.stub.record_area);
  }
  std::printf("%zu stubs written to %s%s\n", planned.size(), folder.c_str(),
              tagger.carriers_removed() ? ", each replacing STUB.exe's earlier tag" : "");
  return 0;
}

int Serve(const std::vector<std::string>& args) {
  return vireo::tag_server::RunTagServer(vireo::tag_server::ParseServerOptions(args));
}

}  // namespace

int main(int argc, char** argv) {
  return vireo::tools::RunToolMain(
      argc, argv, {"corvane-tag"}, [](const std::vector<std::string>& args) {
        if (WantsHelp(args)) {
          std::fputs(kUsageStart, stdout);
          std::fputs(vireo::tag_server::kServeUsage, stdout);
          std::fputs(kUsageEnd, stdout);
          return 0;
        }
        return vireo::tools::RunToolCommand(
            args, {{"set", Set},
                   {"get", Get},
                   {"clear", Clear},
                   {"set-many", SetMany},
                   {"serve", Serve}});
      });
}
