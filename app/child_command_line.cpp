#include "app/child_command_line.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstdarg>
#include <cwchar>

#include "app/child_line_composition.h"
#include "base/bounded_format.h"
#include "base/module_path.h"
#include "base/text_conversion.h"
#include "logging/log_interface.h"
#include "tag/default_tag.h"
#include "tag/tag_limits.h"

namespace vireo {

namespace {

constexpr size_t kMaxFormattedChars = 32765;

static_assert(kMaxFormattedChars == kMaxFormattedPieceLength,
              "the composition cuts pieces where formatting cuts them");

constexpr wchar_t kRecoverSwitch[] = L"recover";
constexpr wchar_t kNomitagSwitch[] = L"nomitag";

bool EndsWithIgnoringCase(const WideString& text, const WideString& suffix) {
  return suffix.length() <= text.length() &&
         ::lstrcmpiW(text.c_str() + text.length() - suffix.length(), suffix.c_str()) == 0;
}

bool SafeAppendFormatV(WideString* output, const wchar_t* format, va_list args) {
  // Formatted aside, so that a value may be the output's own text.
  WideString scratch;
  scratch.Reserve(kMaxFormattedChars);
  const FormatResult text = FormatIntoVA(scratch.data(), kMaxFormattedChars + 1, format, args);
  output->Append(scratch.c_str(), text.length);
  // A text that fills the whole room counts as cut too, as AppendCutPiece
  // models it.
  return text.whole && text.length < kMaxFormattedChars;
}

WideString Format(const wchar_t* format, ...) {
  WideString text;
  va_list args;
  va_start(args, format);
  SafeAppendFormatV(&text, format, args);
  va_end(args);
  return text;
}

bool ContainsBlank(const WideString& text) { return std::wcschr(text.c_str(), L' ') != nullptr; }

}  // namespace

bool SafeAppendFormat(WideString* output, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const bool whole = SafeAppendFormatV(output, format, args);
  va_end(args);
  return whole;
}

void AppendRecoverSwitchPath(const WideString& cmdline, WideString* command_line) {
  const WideString recover = Format(L"/%s", kRecoverSwitch);
  if (cmdline.length() < recover.length() ||
      std::wcsncmp(cmdline.c_str(), recover.c_str(), recover.length()) != 0) {
    return;
  }
  WideString stub_path;
  if (ReadModulePath(nullptr, &stub_path)) {
    SafeAppendFormat(command_line, L" \"%s\"", stub_path.c_str());
  }
}

namespace {

// Fails the composition, logged, when a piece was cut or the whole line is too
// long for CreateProcessW: the child never gets a line cut short.
bool CheckCommandLineFits(bool pieces_whole, const WideString& command_line) {
  if (pieces_whole && command_line.length() <= kMaxChildCommandLineLength) return true;
  VIREO_LOG(LC_CORE, LL_ERROR, L"command line too long length:%u limit:%u",
            static_cast<unsigned>(command_line.length()),
            static_cast<unsigned>(kMaxChildCommandLineLength));
  return false;
}

}  // namespace

bool StripNomitagSwitch(WideString* command_line) {
  const WideString nomitag = Format(L" /%s", kNomitagSwitch);
  if (!EndsWithIgnoringCase(*command_line, nomitag)) return false;
  command_line->Truncate(command_line->length() - nomitag.length());
  return true;
}

namespace {

// The platform's side of the composition: the letter case of the user's
// locale, the log, and the stub's own path for /recover.
class StubPlatform {
 public:
  explicit StubPlatform(const WideString& cmdline) : cmdline_(cmdline) {}
  bool EndsWithIgnoringCase(const WideString& text, const wchar_t* suffix, size_t length) {
    return length <= text.length() &&
           ::lstrcmpiW(text.c_str() + text.length() - length, suffix) == 0;
  }
  void ParametersAppended(const wchar_t* /*cmdline*/, WideString* line) {
    VIREO_LOG(LC_CORE, LL_PROGRESS, L"command_line:%s", line->c_str());
    AppendRecoverSwitchPath(cmdline_, line);
  }
  void SilentTagFound(const WideString& tag) {
    VIREO_LOG(LC_CORE, LL_PROGRESS, L"tag found tag:%s", tag.c_str());
  }

 private:
  const WideString& cmdline_;
};

}  // namespace

bool ComposeChildCommandLine(const WideString& exe_path, const WideString& cmdline,
                             const NarrowString& tag, const WideString& promo_code,
                             WideString* command_line) {
  // Room for PathQuoteSpacesW, which quotes in place within MAX_PATH characters.
  WideString quoted_exe;
  quoted_exe.Reserve(exe_path.length() > MAX_PATH ? exe_path.length() : MAX_PATH);
  quoted_exe.Append(exe_path);
  ::PathQuoteSpacesW(quoted_exe.data());
  quoted_exe.SyncLength();
  if (ContainsBlank(exe_path) && quoted_exe.length() == exe_path.length()) {
    VIREO_LOG(LC_CORE, LL_ERROR, L"exe_path cannot be quoted exe_path:%s", exe_path.c_str());
    return false;
  }

  // Every piece is checked: the platform would start the child with whatever
  // line it is given, cut or not.
  command_line->Clear();
  StubPlatform platform(cmdline);
  const bool fits = ComposeChildLine(
      quoted_exe, cmdline.c_str(), WidenFromThreadCodePage(tag.empty() ? kDefaultTag : tag.c_str()),
      promo_code.c_str(), platform, command_line);
  if (!CheckCommandLineFits(fits, *command_line)) return false;
  VIREO_LOG(LC_CORE, LL_PROGRESS, L"command_line:%s", command_line->c_str());
  return true;
}

}  // namespace vireo
