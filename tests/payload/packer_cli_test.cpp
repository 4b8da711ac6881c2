// corvane-pack as release engineers run it: the built program, real folders
// and files in a per-test temporary directory.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "payload/tar_header.h"
#include "tools/payload_encoding/gnu_tar_writer.h"
#include "tools/payload_encoding/tar_image_reader.h"
#include "tests/payload/payload_test_data.h"
#include "tests/payload/shell_test.h"

namespace vireo::test {
namespace {

namespace fs = std::filesystem;

struct PackerRun {
  int status;
  std::string out;
  std::string err;
};

Bytes ReadBytes(const fs::path& path) {
  const std::string text = ReadText(path);
  return Bytes(text.begin(), text.end());
}

void WriteBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class PackerCliTest : public ShellTest {
 public:
  PackerRun Pack(const std::vector<std::string>& arguments) { return Packer(arguments); }

  PackerRun Packer(const std::vector<std::string>& arguments) {
    std::string command = ShellQuote(CORVANE_PACK_PATH);
    for (const std::string& argument : arguments) command += " " + ShellQuote(argument);
    const fs::path out = root_ / "stdout.txt";
    const fs::path err = root_ / "stderr.txt";
    command += " >" + ShellQuote(out.string()) + " 2>" + ShellQuote(err.string());
    const int raw = std::system(command.c_str());
    PackerRun run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadText(out), ReadText(err)};
    fs::remove(out);
    fs::remove(err);
    return run;
  }

  // A folder under the test directory with `files` (name, contents).
  fs::path Folder(const std::string& name, const std::vector<std::pair<std::string, Bytes>>& files) {
    const fs::path folder = root_ / name;
    fs::create_directories(folder);
    for (const auto& [file, data] : files) WriteBytes(folder / file, data);
    return folder;
  }

  // What a failed write of payload.bin may have left in the test directory.
  std::string LeftoverTemporaries() const {
    std::string names;
    for (const fs::directory_entry& entry : fs::directory_iterator(root_)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(".payload.bin.", 0) == 0 || name == "payload.bin.partial") names += name + " ";
    }
    return names;
  }
};

std::vector<TarImageMember> MembersOf(const Bytes& payload) {
  const DecodeOutcome outcome = Decode(payload);
  EXPECT_EQ(outcome.status, PayloadDecodeStatus::kOk);
  std::vector<TarImageMember> members;
  std::string error;
  EXPECT_TRUE(ReadTarImage(outcome.tar.data(), outcome.tar.size(), &members, &error)) << error;
  return members;
}

TEST_F(PackerCliTest, PacksAFolderThatListAndExtractGiveBack) {
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"setup.exe", X86LikeCode(70000, 1)},
      {"a.txt", Bytes(513, 'a')},
      {"B.dat", RandomBytes(1000, 2)},
      {"empty", {}}};
  const fs::path folder = Folder("in", files);
  const fs::path payload = root_ / "payload.bin";

  const PackerRun pack = Pack({"pack", folder.string(), "-o", payload.string()});
  ASSERT_EQ(pack.status, 0) << pack.err;
  EXPECT_NE(pack.out.find("packed 4 files"), std::string::npos) << pack.out;
  EXPECT_NE(pack.out.find("the stub will start: setup.exe"), std::string::npos) << pack.out;
  EXPECT_NE(pack.out.find("payload:"), std::string::npos);
  EXPECT_EQ(pack.err, "");

  // Byte-wise order: upper case before lower case.
  const std::vector<TarImageMember> members = MembersOf(ReadBytes(payload));
  ASSERT_EQ(members.size(), 4u);
  EXPECT_EQ(members[0].name, "B.dat");
  EXPECT_EQ(members[1].name, "a.txt");
  EXPECT_EQ(members[2].name, "empty");
  EXPECT_EQ(members[3].name, "setup.exe");

  const PackerRun list = Packer({"list", payload.string()});
  ASSERT_EQ(list.status, 0) << list.err;
  EXPECT_NE(list.out.find("70,000  setup.exe   <- started by the stub"), std::string::npos)
      << list.out;
  EXPECT_NE(list.out.find("513  a.txt\n"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("4 members"), std::string::npos);

  const fs::path out = root_ / "out" / "deeper";
  const PackerRun extract = Packer({"extract", payload.string(), "-C", out.string()});
  ASSERT_EQ(extract.status, 0) << extract.err;
  for (const auto& [name, data] : files) EXPECT_TRUE(ReadBytes(out / name) == data) << name;
}

TEST_F(PackerCliTest, LaunchChoosesTheProgramAndSeveralProgramsWarn) {
  const fs::path folder =
      Folder("in", {{"a.exe", Bytes(10, 'a')}, {"b.exe", Bytes(10, 'b')}, {"c.txt", {}}});
  const fs::path payload = root_ / "payload.bin";

  const PackerRun plain = Pack({"pack", folder.string(), "-o", payload.string()});
  ASSERT_EQ(plain.status, 0) << plain.err;
  EXPECT_NE(plain.err.find("warning: 2 files end in .exe; the stub starts the first, a.exe"),
            std::string::npos)
      << plain.err;
  EXPECT_NE(plain.out.find("the stub will start: a.exe"), std::string::npos);

  const PackerRun chosen = Pack({"pack", folder.string(), "--launch", "b.exe", "-o", payload.string()});
  ASSERT_EQ(chosen.status, 0) << chosen.err;
  EXPECT_EQ(chosen.err, "");
  EXPECT_NE(chosen.out.find("the stub will start: b.exe"), std::string::npos);
  const std::vector<TarImageMember> members = MembersOf(ReadBytes(payload));
  ASSERT_EQ(members.size(), 3u);
  EXPECT_EQ(members[0].name, "b.exe");
  EXPECT_EQ(members[1].name, "a.exe");
  EXPECT_EQ(members[2].name, "c.txt");

  const PackerRun missing = Pack({"pack", folder.string(), "--launch=x.exe", "-o", payload.string()});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("--launch x.exe: the input has no file of that name"),
            std::string::npos);
  const PackerRun not_a_program = Pack({"pack", folder.string(), "--launch", "c.txt", "-o", "x"});
  EXPECT_EQ(not_a_program.status, 1);
  EXPECT_NE(not_a_program.err.find("ends in .exe"), std::string::npos);
}

TEST_F(PackerCliTest, PacksTheMembersOfATarFileInTheirOrder) {
  const Bytes tar = MakeTar({{"z.exe", Bytes(100, 'z')}, {"a.txt", Bytes(3, 'a')}});
  WriteBytes(root_ / "in.tar", tar);
  const fs::path payload = root_ / "payload.bin";
  const PackerRun run = Pack({"pack", (root_ / "in.tar").string(), "--output", payload.string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<TarImageMember> members = MembersOf(ReadBytes(payload));
  ASSERT_EQ(members.size(), 2u);
  EXPECT_EQ(members[0].name, "z.exe");
  EXPECT_EQ(members[1].name, "a.txt");
  EXPECT_TRUE(Decode(ReadBytes(payload)).tar == tar);
}

// A tar image whose second header has `type_flag` and `name`.
Bytes TarWithEntry(char type_flag, const std::string& name) {
  Bytes tar = MakeTar({{"setup.exe", Bytes(10, 's')}});
  Bytes header(kTarBlockSize);
  FillGnuTarHeader(name, 0, type_flag, header.data());
  tar.insert(tar.begin() + 1024, header.begin(), header.end());
  return tar;
}

TEST_F(PackerCliTest, RefusesWhatTheStubWouldRefuseAndWritesNothing) {
  const Bytes exe(10, 'x');
  const struct {
    const char* label;
    std::function<fs::path(PackerCliTest*)> make_input;
    const char* message;
  } cases[] = {
      {"subdirectory",
       [&](PackerCliTest* t) {
         const fs::path f = t->Folder("in", {{"setup.exe", exe}});
         fs::create_directory(f / "sub");
         return f;
       },
       "\"sub\": is a subdirectory"},
      {"symbolic link",
       [&](PackerCliTest* t) {
         const fs::path f = t->Folder("in", {{"setup.exe", exe}});
         fs::create_symlink("setup.exe", f / "link.exe");
         return f;
       },
       "\"link.exe\": is a symbolic link"},
      {"named pipe",
       [&](PackerCliTest* t) {
         const fs::path f = t->Folder("in", {{"setup.exe", exe}});
         mkfifo((f / "pipe").c_str(), 0600);
         return f;
       },
       "\"pipe\": is not a regular file"},
      {"device name",
       [&](PackerCliTest* t) { return t->Folder("in", {{"setup.exe", exe}, {"nul.txt", {}}}); },
       "\"nul.txt\": not a plain Windows file name"},
      {"trailing dot",
       [&](PackerCliTest* t) { return t->Folder("in", {{"setup.exe", exe}, {"x.", {}}}); },
       "\"x.\": not a plain Windows file name"},
      {"colon",
       [&](PackerCliTest* t) { return t->Folder("in", {{"setup.exe", exe}, {"a:b", {}}}); },
       "\"a:b\": not a plain Windows file name"},
      {"backslash",
       [&](PackerCliTest* t) { return t->Folder("in", {{"setup.exe", exe}, {"a\\b", {}}}); },
       "\"a\\b\": name has a folder part"},
      {"not ASCII",
       [&](PackerCliTest* t) { return t->Folder("in", {{"caf\xC3\xA9.exe", exe}}); },
       "name is not ASCII"},
      {"name of 101 bytes",
       [&](PackerCliTest* t) { return t->Folder("in", {{"setup.exe", exe}, {std::string(101, 'n'), {}}}); },
       "name longer than 100 bytes"},
      {"names equal but for case",
       [&](PackerCliTest* t) { return t->Folder("in", {{"Setup.exe", exe}, {"setup.exe", exe}}); },
       "\"setup.exe\": same file name as \"Setup.exe\""},
      {"empty folder", [&](PackerCliTest* t) { return t->Folder("in", {}); }, "no files to pack"},
      {"no program",
       [&](PackerCliTest* t) { return t->Folder("in", {{"readme.txt", exe}}); },
       "no file ends in .exe, so the stub would start nothing (pass --allow-no-exe"},
      {"2 GiB tar image",
       [&](PackerCliTest* t) {
         const fs::path f = t->Folder("in", {{"setup.exe", exe}});
         std::ofstream(f / "big.bin").close();
         fs::resize_file(f / "big.bin", (uint64_t{2} << 30) - 2048);  // sparse
         return f;
       },
       "the stub reads archives below 2 GiB"},
      {"missing input", [&](PackerCliTest* t) { return t->root_ / "nothing-here"; },
       "no such file or folder"},
      {"not a tar file",
       [&](PackerCliTest* t) {
         WriteBytes(t->root_ / "in.tar", Bytes(2048, 'j'));
         return t->root_ / "in.tar";
       },
       "not a tar archive the stub can read"},
      {"tar with a directory entry",
       [&](PackerCliTest* t) {
         WriteBytes(t->root_ / "in.tar", TarWithEntry('5', "docs/"));
         return t->root_ / "in.tar";
       },
       "\"docs/\": is a directory entry"},
      {"tar with a POSIX extended header",
       [&](PackerCliTest* t) {
         WriteBytes(t->root_ / "in.tar", TarWithEntry('x', "PaxHeaders/a"));
         return t->root_ / "in.tar";
       },
       "--format=gnu"},
      {"tar with a link",
       [&](PackerCliTest* t) {
         WriteBytes(t->root_ / "in.tar", TarWithEntry('2', "link.exe"));
         return t->root_ / "in.tar";
       },
       "\"link.exe\": is a link"},
      {"tar with a folder part in a name",
       [&](PackerCliTest* t) {
         WriteBytes(t->root_ / "in.tar", MakeTar({{"./setup.exe", exe}}));
         return t->root_ / "in.tar";
       },
       "\"./setup.exe\": name has a folder part"},
      {"tar without members",
       [&](PackerCliTest* t) {
         WriteBytes(t->root_ / "in.tar", MakeTar({}));
         return t->root_ / "in.tar";
       },
       "no files to pack"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    TearDown();
    SetUp();
    const fs::path input = test.make_input(this);
    const fs::path payload = root_ / "payload.bin";
    WriteBytes(payload, Bytes{'o', 'l', 'd'});
    const PackerRun run = Pack({"pack", input.string(), "-o", payload.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(test.message), std::string::npos) << run.err;
    EXPECT_EQ(run.err.rfind("corvane-pack: error: ", 0), 0u) << run.err;
    EXPECT_EQ(ReadText(payload), "old");
    EXPECT_EQ(LeftoverTemporaries(), "");
  }
}

// The stub copies itself into the work directory as CorvaneUpdateSetup.exe and
// never starts that copy: a program of that name would be overwritten and the
// run would start nothing, and any other file of that name would reach the
// program as the stub's copy instead of as packed.
TEST_F(PackerCliTest, RefusesAFileNamedAsTheStubsCopyOfItself) {
  const Bytes exe(10, 'x');
  constexpr char kStarted[] =
      "\" is the program the stub would start, but the stub copies itself into the work "
      "directory as CorvaneUpdateSetup.exe";
  constexpr char kOverwritten[] =
      "\" would never reach setup.exe: the stub copies itself into the work directory under "
      "that name";
  const struct {
    const char* label;
    std::vector<std::string> files;  // a folder of these, unless `tar`
    bool tar;
    const char* launch;   // --launch, or null
    const char* refused;  // the name refused, or null when packed
    const char* why;      // what the refusal says after the name
  } cases[] = {
      {"the only program", {"CorvaneUpdateSetup.exe", "readme.txt"}, false, nullptr,
       "CorvaneUpdateSetup.exe", kStarted},
      {"other letter case", {"corvaneupdatesetup.EXE"}, false, nullptr, "corvaneupdatesetup.EXE",
       kStarted},
      {"sorts before the other program", {"CorvaneUpdateSetup.exe", "setup.exe"}, false, nullptr,
       "CorvaneUpdateSetup.exe", kStarted},
      {"chosen with --launch", {"a.exe", "CORVANEUPDATESETUP.EXE"}, false,
       "CORVANEUPDATESETUP.EXE", "CORVANEUPDATESETUP.EXE", kStarted},
      {"first member of a tar", {"CorvaneUpdateSetup.Exe", "a.exe"}, true, nullptr,
       "CorvaneUpdateSetup.Exe", kStarted},
      {"beside another program chosen with --launch", {"CorvaneUpdateSetup.exe", "setup.exe"},
       false, "setup.exe", "CorvaneUpdateSetup.exe", kOverwritten},
      {"after the program in a tar", {"setup.exe", "corvaneupdatesetup.exe"}, true, nullptr,
       "corvaneupdatesetup.exe", kOverwritten},
      {"a referral-coded name", {"CorvaneUpdateSetup-ABC123.exe"}, false, nullptr, nullptr,
       nullptr},
      {"a longer name", {"CorvaneUpdateSetup.exe.exe", "CorvaneUpdateSetup.exe.txt"}, false,
       nullptr, nullptr, nullptr},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    TearDown();
    SetUp();
    fs::path input;
    if (test.tar) {
      std::vector<std::pair<std::string, Bytes>> members;
      for (const std::string& name : test.files) members.push_back({name, exe});
      input = root_ / "in.tar";
      WriteBytes(input, MakeTar(members));
    } else {
      std::vector<std::pair<std::string, Bytes>> files;
      for (const std::string& name : test.files) files.push_back({name, exe});
      input = Folder("in", files);
    }
    const fs::path payload = root_ / "payload.bin";
    WriteBytes(payload, Bytes{'o', 'l', 'd'});
    std::vector<std::string> arguments = {"pack", input.string(), "-o", payload.string()};
    if (test.launch) arguments.insert(arguments.end(), {"--launch", test.launch});
    const PackerRun run = Pack(arguments);
    if (!test.refused) {
      EXPECT_EQ(run.status, 0) << run.err;
      continue;
    }
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("\"" + std::string(test.refused) + test.why), std::string::npos)
        << run.err;
    EXPECT_EQ(ReadText(payload), "old");
    EXPECT_EQ(LeftoverTemporaries(), "");
  }
}

TEST_F(PackerCliTest, ReportsEveryProblemOfAnInputAtOnce) {
  const fs::path folder = Folder("in", {{"con", {}}, {"x ", {}}, {"setup.exe", Bytes(1, 's')}});
  fs::create_directory(folder / "sub");
  const PackerRun run = Pack({"pack", folder.string(), "-o", (root_ / "p.bin").string()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("\"con\""), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("\"x \""), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("\"sub\""), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists(root_ / "p.bin"));
}

TEST_F(PackerCliTest, PacksWithoutAProgramWhenAllowed) {
  const fs::path folder = Folder("in", {{"readme.txt", Bytes(5, 'r')}});
  const fs::path payload = root_ / "payload.bin";
  const PackerRun run = Pack({"pack", folder.string(), "-o", payload.string(), "--allow-no-exe"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("the stub will start: nothing"), std::string::npos);
  const PackerRun list = Packer({"list", payload.string()});
  EXPECT_NE(list.out.find("no .exe, the stub would start nothing"), std::string::npos);
}

TEST_F(PackerCliTest, ListAndExtractFailClearlyOnDamagedPayloads) {
  const Bytes good = MakePayload(MakeTar({{"setup.exe", X86LikeCode(20000, 3)}}));
  Bytes flipped = good;
  for (size_t i = 20; i < 60; ++i) flipped[i] ^= 0x5A;
  const Bytes cut(good.begin(), good.begin() + good.size() / 2);
  Bytes unterminated_tar = MakeTar({{"setup.exe", Bytes(10, 's')}});
  unterminated_tar.resize(1024);
  Bytes unsafe_tar = MakeTar({{"setup.exe", Bytes(10, 's')}});
  std::memcpy(unsafe_tar.data() + 1024, MakeTar({{"..\\evil.exe", Bytes(3, 'e')}}).data(), 1024);
  const struct {
    const char* label;
    Bytes payload;
    const char* list_message;  // null: list succeeds
    const char* extract_message;
  } cases[] = {
      {"damaged data", flipped, "corrupt payload", "corrupt payload"},
      {"cut in half", cut, "corrupt payload: LZMA stream does not end at its declared size",
       "corrupt payload"},
      {"12 bytes", Bytes(good.begin(), good.begin() + 12),
       "corrupt payload: shorter than the 13-byte LZMA header", "corrupt payload"},
      {"tar without end block", MakePayload(unterminated_tar), "tar archive is damaged",
       "tar archive is damaged"},
      {"unsafe member name", MakePayload(unsafe_tar), nullptr, "refusing to extract"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.label);
    const fs::path payload = root_ / "payload.bin";
    WriteBytes(payload, test.payload);
    const PackerRun list = Packer({"list", payload.string()});
    if (test.list_message) {
      EXPECT_EQ(list.status, 1);
      EXPECT_NE(list.err.find(test.list_message), std::string::npos) << list.err;
    } else {
      EXPECT_EQ(list.status, 0) << list.err;
    }
    const fs::path target = root_ / "target";
    const PackerRun extract = Packer({"extract", payload.string(), "-C", target.string()});
    EXPECT_EQ(extract.status, 1);
    EXPECT_NE(extract.err.find(test.extract_message), std::string::npos) << extract.err;
    EXPECT_FALSE(fs::exists(target));
    EXPECT_FALSE(fs::exists(root_ / "evil.exe"));
  }
}

TEST_F(PackerCliTest, ExplainsItsUsage) {
  const PackerRun help = Packer({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("corvane-pack pack INPUT -o PAYLOAD.bin"), std::string::npos);
  EXPECT_EQ(Packer({"pack", "-h"}).status, 0);

  const struct {
    std::vector<std::string> arguments;
    const char* message;
  } mistakes[] = {
      {{}, "no command given"},
      {{"unpack"}, "unknown command unpack"},
      {{"pack", "folder"}, "-o PAYLOAD.bin is missing"},
      {{"pack", "-o", "x.bin"}, "INPUT (a folder or tar file) is missing"},
      {{"pack", "a", "b", "-o", "x"}, "more than one INPUT"},
      {{"pack", "a", "-o"}, "-o needs a value"},
      {{"pack", "a", "-o", "x", "--fast"}, "unknown option --fast"},
      {{"list"}, "list takes exactly one PAYLOAD.bin"},
      {{"extract", "p.bin"}, "-C DIR is missing"},
  };
  for (const auto& test : mistakes) {
    const PackerRun run = Packer(test.arguments);
    EXPECT_EQ(run.status, 2) << test.message;
    EXPECT_NE(run.err.find(test.message), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("Try 'corvane-pack --help'."), std::string::npos);
  }
}

}  // namespace
}  // namespace vireo::test
