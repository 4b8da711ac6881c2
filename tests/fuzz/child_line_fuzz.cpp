// Composes the child's command line from arbitrary program paths, parameters
// and tags with the stub's own composition (ComposeChildLine), and checks what
// the child relies on: a line that is accepted is exactly the pieces joined,
// never cut, and no longer than CreateProcessW takes; a line is refused only
// when it would not fit; and a tag without a double quote reaches the child
// as one argument, split the way CommandLineToArgvW splits a line.
//
// Input: a flags byte, a repeat byte, then program path, parameters and tag
// separated by zero bytes; the tag may be repeated so that short inputs reach
// the length limits. Bytes widen one to one.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cwctype>
#include <string>
#include <vector>

#include "app/child_line_composition.h"
#include "tag/tag_limits.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

struct HostString {
  std::wstring text;
  size_t length() const { return text.size(); }
  const wchar_t* c_str() const { return text.c_str(); }
  bool empty() const { return text.empty(); }
  void Append(const wchar_t* more, size_t count) { text.append(more, count); }
  void Truncate(size_t count) { text.resize(count); }
};

constexpr wchar_t kStubPath[] = L"C:\\Users\\u\\Downloads\\CorvaneUpdateSetup.exe";

bool EndsWithAsciiIgnoringCase(const std::wstring& text, const std::wstring& suffix) {
  if (suffix.size() > text.size()) return false;
  for (size_t i = 0; i < suffix.size(); ++i) {
    wchar_t a = text[text.size() - suffix.size() + i];
    wchar_t b = suffix[i];
    if (a >= L'A' && a <= L'Z') a += 32;
    if (b >= L'A' && b <= L'Z') b += 32;
    if (a != b) return false;
  }
  return true;
}

struct HostPlatform {
  bool EndsWithIgnoringCase(const HostString& text, const wchar_t* suffix, size_t length) {
    return EndsWithAsciiIgnoringCase(text.text, std::wstring(suffix, length));
  }
  void ParametersAppended(const wchar_t* cmdline, HostString* line) {
    if (std::wstring(cmdline).compare(0, 8, L"/recover") == 0) {
      line->text += std::wstring(L" \"") + kStubPath + L"\"";
    }
  }
  void SilentTagFound(const HostString&) {}
};

// CommandLineToArgvW's rules: the program name ends at its closing quote or
// the first blank; after it, blanks and tabs separate arguments outside
// quotes, 2n backslashes before a quote give n and the quote opens or closes,
// 2n+1 give n and a literal quote, a doubled quote inside quotes is one quote.
std::vector<std::wstring> SplitLikeCommandLineToArgvW(const std::wstring& line) {
  std::vector<std::wstring> argv;
  size_t i = 0;
  std::wstring program;
  if (i < line.size() && line[i] == L'"') {
    for (++i; i < line.size() && line[i] != L'"'; ++i) program += line[i];
    if (i < line.size()) ++i;
  } else {
    for (; i < line.size() && line[i] != L' ' && line[i] != L'\t'; ++i) program += line[i];
  }
  argv.push_back(program);
  for (;;) {
    while (i < line.size() && (line[i] == L' ' || line[i] == L'\t')) ++i;
    if (i >= line.size()) break;
    std::wstring argument;
    bool quoted = false;
    while (i < line.size()) {
      const wchar_t c = line[i];
      if (!quoted && (c == L' ' || c == L'\t')) break;
      if (c == L'\\') {
        size_t backslashes = 0;
        while (i < line.size() && line[i] == L'\\') ++backslashes, ++i;
        if (i < line.size() && line[i] == L'"') {
          argument.append(backslashes / 2, L'\\');
          if (backslashes % 2) {
            argument += L'"';
            ++i;
          }
        } else {
          argument.append(backslashes, L'\\');
        }
      } else if (c == L'"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
          argument += L'"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        argument += c;
        ++i;
      }
    }
    argv.push_back(argument);
  }
  return argv;
}

std::wstring Widen(const uint8_t* begin, const uint8_t* end) {
  std::wstring wide;
  for (const uint8_t* p = begin; p < end; ++p) wide += static_cast<wchar_t>(*p);
  return wide;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t flags = data[0];
  // Most inputs stay short and fast; the top sixteen counts repeat the tag
  // into thousands of copies, beyond the line's limit.
  const size_t repeat = data[1] >= 0xF0 ? static_cast<size_t>(data[1] - 0xEF) * 2048 : 1;
  std::wstring fields[3];
  const uint8_t* p = data + 2;
  const uint8_t* end = data + size;
  for (int f = 0; f < 3; ++f) {
    const uint8_t* stop = p;
    while (stop < end && (*stop != 0 || f == 2)) ++stop;
    fields[f] = Widen(p, stop);
    p = stop < end ? stop + 1 : end;
  }
  std::wstring exe = fields[0].empty() ? L"C:\\Temp\\PKM1A2B.tmp\\setup.exe" : fields[0];
  // Work-directory paths hold no quotes and no control characters.
  for (wchar_t& c : exe) {
    if (c == L'"' || c < 0x20) c = L'_';
  }
  const std::wstring& cmdline = fields[1];
  std::wstring tag;
  for (size_t r = 0; r < repeat && tag.size() < 70000; ++r) tag += fields[2];
  // What the stub reads as the tag ends at the first zero byte; none stands in for the default.
  tag = tag.substr(0, tag.find(L'\0'));
  if (tag.empty()) tag = L"appguid={4E1B7C2A-93D5-4F0E-B6A8-2C71D9E05F34}&appname=Corvane-Release";
  const std::wstring promo = flags & 1 ? L"ABC123" : L"none";

  // PathQuoteSpacesW: quotes a path with a blank when it fits MAX_PATH.
  HostString quoted_exe{exe};
  if (exe.find(L' ') != std::wstring::npos) {
    if (exe.size() + 3 > 259) return 0;  // the stub refuses such a path
    quoted_exe.text = L"\"" + exe + L"\"";
  }

  HostPlatform platform;
  HostString line;
  const bool fits = vireo::ComposeChildLine(quoted_exe, cmdline.c_str(), HostString{tag},
                                            promo.c_str(), platform, &line);

  // The same line joined without any limit.
  std::wstring expected = quoted_exe.text;
  std::wstring tag_text = tag;
  size_t longest_piece = 0;
  if (!cmdline.empty()) {
    expected += L" " + cmdline;
    longest_piece = 1 + cmdline.size();
    if (cmdline.compare(0, 8, L"/recover") == 0) expected += std::wstring(L" \"") + kStubPath + L"\"";
  } else if (EndsWithAsciiIgnoringCase(tag_text, L"&silent")) {
    tag_text.resize(tag_text.size() - 7);
    expected += L" /silent /install";
  } else {
    expected += L" /installsource taggedmi /install";
  }
  bool tag_passed = false;
  if (EndsWithAsciiIgnoringCase(expected, L" /nomitag")) {
    expected.resize(expected.size() - 9);
  } else if (!tag_text.empty()) {
    tag_text += L"&referral=" + promo;
    expected += L" \"" + tag_text + L"\"";
    if (tag_text.size() + 3 > longest_piece) longest_piece = tag_text.size() + 3;
    tag_passed = true;
  }

  if (fits) {
    Require(line.text.size() <= vireo::kMaxChildCommandLineLength);
    Require(line.text == expected);
  } else {
    Require(expected.size() > vireo::kMaxChildCommandLineLength ||
            longest_piece >= vireo::kMaxFormattedPieceLength);
    return 0;
  }

  // A tag without a double quote, after parameters without one, is one argument.
  if (tag_passed && tag_text.find(L'"') == std::wstring::npos &&
      cmdline.find(L'"') == std::wstring::npos) {
    const std::vector<std::wstring> argv = SplitLikeCommandLineToArgvW(line.text);
    Require(argv.back() == tag_text);
    if (exe.find(L'\t') == std::wstring::npos) Require(argv.front() == exe);
  }
  return 0;
}
