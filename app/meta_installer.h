#pragma once
// One run of the stub. ExtractAndRun makes the work directory, unpacks the
// payload into it, copies the stub beside the unpacked files, starts the first
// unpacked program and waits for it. What the run created is owned by its
// RunFiles (app/run_files.h), which removes it when the run is destroyed: all
// of it, or only the unpacked files when the child ended with
// kKeepFilesExitCode.

#include <windows.h>

#include "app/run_files.h"
#include "app/self_image.h"
#include "base/owned_string.h"
#include "base/unique_handle.h"

namespace vireo {


// A child that ends with this code asks the stub to leave its files in place.
constexpr DWORD kKeepFilesExitCode = 0x8004FFFF;
// The run's result for every failure before the child was started.
constexpr DWORD kRunFailed = 0xFFFFFFFF;

class MetaInstaller {
 public:
  MetaInstaller(HINSTANCE instance, WideString cmdline, WideString promo_code);
  MetaInstaller(const MetaInstaller&) = delete;
  MetaInstaller& operator=(const MetaInstaller&) = delete;

  // The whole run; returns the process exit code. Called once.
  DWORD ExtractAndRun();

  // Sets temp_dir and temp_root; on failure neither.
  bool CreateUniqueTempDirectory();
  // The decoded tar, open and rewound; an empty owner on failure, which was
  // logged where it happened. The tar file is recorded as soon as a name was
  // obtained.
  UniqueFile ExtractTarballToTempLocation();
  // Copies the stub, from the file held open since construction, into temp_dir
  // as "CorvaneUpdateSetup.exe". The copy is recorded before it is written, so
  // a partial one goes too.
  bool CopyMetainstallerToTempLocation();
  // The Tar's callback: records `path` and remembers the first ".exe".
  static void OnFileExtracted(void* context, const wchar_t* path);

  const WideString& exe_path() const { return exe_path_; }
  const WideString& temp_dir() const { return files_.work().temp_dir; }
  const WideString& temp_root() const { return files_.work().temp_root; }
  DWORD exit_code() const { return exit_code_; }
  // Every file the run created, in the order of creation.
  const GrowableArray<CreatedFile>& files_to_delete() const { return files_.files(); }

 private:
  // True when the program to start is the stub's own copy by name: it would
  // start itself again, without end.
  bool LaunchesStubCopy() const;
  void LaunchChild();

  HINSTANCE instance_;
  // Opened by the constructor; closed before the child starts.
  SelfImage self_image_;
  WideString cmdline_;
  WideString exe_path_;
  WideString promo_code_;
  DWORD exit_code_ = 0;
  RunFiles files_;
};

}  // namespace vireo
