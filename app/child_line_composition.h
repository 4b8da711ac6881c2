#pragma once
// How the child's command line is put together, apart from the platform: the
// stub's ComposeChildCommandLine supplies the quoted program path, the widened
// tag, a case-insensitive comparison and its logging; the host's fuzzers
// supply their own. Text pieces are cut as the stub's formatting buffer cuts
// them, so that a line is refused exactly when the stub refuses it.

#include <cstddef>
#include <cwchar>

#include "tag/tag_limits.h"

namespace vireo {

// The longest piece the stub formats whole; a longer one is cut to this length.
constexpr size_t kMaxFormattedPieceLength = 32765;

struct TextPiece {
  const wchar_t* text;
  size_t length;
};

// Appends the concatenated `pieces` to `output` (String: length(),
// Append(const wchar_t*, size_t)). False, with only the first
// kMaxFormattedPieceLength characters appended, when they are that long or longer.
template <typename String, size_t kCount>
bool AppendCutPiece(String* output, const TextPiece (&pieces)[kCount]) {
  size_t room = kMaxFormattedPieceLength;
  bool whole = true;
  for (const TextPiece& piece : pieces) {
    size_t length = piece.length;
    if (length >= room) {
      length = room;
      whole = false;
    }
    output->Append(piece.text, length);
    room -= length;
  }
  return whole;
}

// Composes the child's line into `command_line` (empty; String also needs
// c_str(), empty() and Truncate(size_t)) from the already quoted program path,
// the stub's parameters and the widened tag. `platform` provides:
//   bool EndsWithIgnoringCase(const String& text, const wchar_t* suffix, size_t length)
//   void ParametersAppended(const wchar_t* cmdline, String* line)  logs, appends /recover's path
//   void SilentTagFound(const String& tag)                          logs
// True when every piece was whole and the line fits CreateProcessW.
template <typename String, typename Platform>
bool ComposeChildLine(const String& quoted_exe, const wchar_t* cmdline, String tag_text,
                      const wchar_t* promo_code, Platform& platform, String* command_line) {
  static constexpr wchar_t kSilentSuffix[] = L"&silent";
  static constexpr wchar_t kSilentSwitches[] = L" /silent /install";
  static constexpr wchar_t kTaggedSwitches[] = L" /installsource taggedmi /install";
  static constexpr wchar_t kNomitagSwitch[] = L" /nomitag";
  static constexpr wchar_t kReferral[] = L"&referral=";
  const auto literal = [](const wchar_t* text) { return TextPiece{text, std::wcslen(text)}; };

  command_line->Append(quoted_exe.c_str(), quoted_exe.length());
  bool whole = true;
  if (*cmdline) {
    whole &= AppendCutPiece(command_line, {literal(L" "), literal(cmdline)});
    platform.ParametersAppended(cmdline, command_line);
  } else if (platform.EndsWithIgnoringCase(tag_text, kSilentSuffix, std::wcslen(kSilentSuffix))) {
    tag_text.Truncate(tag_text.length() - std::wcslen(kSilentSuffix));
    platform.SilentTagFound(tag_text);
    whole &= AppendCutPiece(command_line, {literal(kSilentSwitches)});
  } else {
    whole &= AppendCutPiece(command_line, {literal(kTaggedSwitches)});
  }

  // A trailing /nomitag drops itself and the tag.
  const size_t nomitag_length = std::wcslen(kNomitagSwitch);
  const bool nomitag =
      platform.EndsWithIgnoringCase(*command_line, kNomitagSwitch, nomitag_length);
  if (nomitag) command_line->Truncate(command_line->length() - nomitag_length);
  if (!nomitag && !tag_text.empty()) {
    whole &= AppendCutPiece(&tag_text, {literal(kReferral), literal(promo_code)});
    whole &= AppendCutPiece(command_line, {literal(L" \""), literal(tag_text.c_str()),
                                           literal(L"\"")});
  }
  return whole && command_line->length() <= kMaxChildCommandLineLength;
}

}  // namespace vireo
