#include "app/meta_installer.h"

#include <shlwapi.h>

#include <cwchar>
#include <utility>

#include "app/child_command_line.h"
#include "app/process_launch.h"
#include "base/module_path.h"
#include "base/path_routines.h"
#include "logging/log_interface.h"
#include "payload/launch_member.h"
#include "payload/payload_decoding.h"
#include "payload/tar.h"
#include "tag/tag_reader.h"

namespace vireo {

namespace {

constexpr WORD kPayloadResourceId = 102;
// The scope the run's "FUNCTION:" lines have always named (log_interface.h).
constexpr wchar_t kLoggedScope[] = L"vireo::`anonymous-namespace'::MetaInstaller";
constexpr wchar_t kPayloadResourceType[] = L"B";

}  // namespace

MetaInstaller::MetaInstaller(HINSTANCE instance, WideString cmdline, WideString promo_code)
    : instance_(instance), cmdline_(std::move(cmdline)), promo_code_(std::move(promo_code)) {
  // As early as the run can: from here on the stub's file cannot be swapped.
  self_image_.Open(instance_);
}

DWORD MetaInstaller::ExtractAndRun() {
  VIREO_LOG_FUNCTION(kLoggedScope);

  if (!CreateUniqueTempDirectory()) {
    LogFailedCall(L"CreateUniqueTempDirectory");
    return kRunFailed;
  }

  const UniqueFile archive = ExtractTarballToTempLocation();
  if (!archive) {
    LogFailedCall(L"ExtractTarballToTempLocation");
    return kRunFailed;
  }

  Tar tar(temp_dir().c_str(), archive.get());
  tar.SetFileCallback(&MetaInstaller::OnFileExtracted, this);
  if (!tar.ExtractToDir()) {
    VIREO_LOG(LC_CORE, LL_ERROR, L"ExtractToDir failed temp_dir:%s err:%d", temp_dir().c_str(),
              ::GetLastError());
    return kRunFailed;
  }
  if (LaunchesStubCopy()) {
    VIREO_LOG(LC_CORE, LL_ERROR, L"the payload's program is the stub's own copy exe_path:%s",
              exe_path_.c_str());
    return kRunFailed;
  }
  if (!CopyMetainstallerToTempLocation()) {
    LogFailedCall(L"CopyMetainstallerToTempLocation");
    return kRunFailed;
  }
  exit_code_ = kRunFailed;
  if (exe_path_.empty()) {
    VIREO_LOG(LC_CORE, LL_ERROR, L"no program to start");
    return kRunFailed;
  }
  LaunchChild();
  if (exit_code_ == kKeepFilesExitCode) files_.KeepOnRequest();
  return exit_code_;
}

bool MetaInstaller::LaunchesStubCopy() const {
  const wchar_t* separator = std::wcsrchr(exe_path_.c_str(), L'\\');
  const wchar_t* name = separator ? separator + 1 : exe_path_.c_str();
  return IsStubCopyName(name, std::wcslen(name));
}

void MetaInstaller::LaunchChild() {
  const NarrowString tag = self_image_.ReadTag();
  // The child may copy, move or delete the stub's file.
  self_image_.Close();
  WideString command_line;
  if (!ComposeChildCommandLine(exe_path_, cmdline_, tag, promo_code_, &command_line)) return;
  RunProcessAndWait(command_line, &exit_code_);
}

bool MetaInstaller::CreateUniqueTempDirectory() {
  return vireo::CreateUniqueTempDirectory(&files_.work());
}

UniqueFile MetaInstaller::ExtractTarballToTempLocation() {
  const WideString tar_path = GetTempFileNameIn(temp_root().c_str(), L"PKT");
  if (tar_path.empty()) {
    LogFailedCall(L"GetTempFileName", temp_root().c_str());
    return UniqueFile();
  }
  // Recorded before anything else can fail, so the file goes whatever happens next.
  files_.RecordKeepable(tar_path.c_str());

  const HRSRC resource =
      ::FindResourceW(nullptr, MAKEINTRESOURCEW(kPayloadResourceId), kPayloadResourceType);
  const HGLOBAL loaded = resource ? ::LoadResource(nullptr, resource) : nullptr;
  const auto* payload = loaded ? static_cast<const uint8_t*>(::LockResource(loaded)) : nullptr;
  if (!payload) {
    LogFailedCall(L"LoadResource");
    return UniqueFile();
  }

  UniqueFile file(::CreateFileW(tar_path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_ALWAYS, 0, nullptr));
  if (!file) {
    LogFailedCall(L"CreateFile", tar_path.c_str());
    return UniqueFile();
  }
  if (DecodePayload(payload, ::SizeofResource(nullptr, resource), file.get()) !=
      PayloadFileStatus::kOk) {
    return UniqueFile();
  }
  LARGE_INTEGER start = {};
  if (!::SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN)) {
    LogFailedCall(L"SetFilePointerEx", tar_path.c_str());
    return UniqueFile();
  }
  return file;
}

bool MetaInstaller::CopyMetainstallerToTempLocation() {
  VIREO_LOG_FUNCTION(kLoggedScope);

  WideString module_path;
  if (!ReadModulePath(nullptr, &module_path)) {
    VIREO_LOG(LC_CORE, LL_ERROR, L"GetModuleFileName failed err:%d module_path:%s",
              ::GetLastError(), module_path.c_str());
    return false;
  }

  wchar_t target_path[MAX_PATH] = {};
  ::lstrcpynW(target_path, temp_dir().c_str(), MAX_PATH);
  ::PathAppendW(target_path, kStubCopyWideName);
  files_.RecordKeepable(target_path);
  // From the handle opened at the start, not from the path: the name may meanwhile
  // belong to another file.
  if (!self_image_.CopyTo(target_path)) {
    VIREO_LOG(LC_CORE, LL_ERROR,
              L"CopyFile failed err:%d module_path:%s metainstaller_target_path:%s",
              ::GetLastError(), module_path.c_str(), target_path);
    return false;
  }
  return true;
}

void MetaInstaller::OnFileExtracted(void* context, const wchar_t* path) {
  auto* self = static_cast<MetaInstaller*>(context);
  self->files_.RecordUnpacked(path);

  const wchar_t* separator = std::wcsrchr(path, L'\\');
  const wchar_t* name = separator ? separator + 1 : path;
  if (IsExecutableName(name, std::wcslen(name)) && self->exe_path_.empty()) {
    self->exe_path_.Assign(path);
  }
}

}  // namespace vireo
