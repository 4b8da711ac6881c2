#pragma once
// The command line of the child (the first unpacked program), built from its
// path, the stub's own parameters, the tag and the referral code.

#include "base/owned_string.h"

namespace vireo {

// Formats (FormatInto) into a scratch buffer and appends the text to
// `output`. Text of 32,765 characters or more is cut there; false then.
bool SafeAppendFormat(WideString* output, const wchar_t* format, ...);

// Appends " \"<stub path>\"" when `cmdline` begins with "/recover" (case
// sensitive). The path is silently left out when it cannot be read.
void AppendRecoverSwitchPath(const WideString& cmdline, WideString* command_line);

// Removes a trailing " /nomitag" (any letter case). True when one was removed.
bool StripNomitagSwitch(WideString* command_line);

// Builds the child's command line. `tag` is the stamped tag as read (empty when
// the stub carries none: the default tag stands in). Returns false, logged and
// leaving `command_line` unspecified, when `exe_path` holds a blank but cannot
// be quoted (started unquoted, the platform could run another program,
// C:\Program.exe), or when the line would be cut: a piece did not format
// whole, or the line is longer than CreateProcessW takes.
bool ComposeChildCommandLine(const WideString& exe_path, const WideString& cmdline,
                             const NarrowString& tag, const WideString& promo_code,
                             WideString* command_line);

}  // namespace vireo
