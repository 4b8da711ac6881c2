#pragma once
// One run of the stub: it owns every path it creates and the list of files to
// remove afterwards. ExtractAndRun makes the work directory, unpacks the payload
// into it, copies the stub beside the unpacked files, starts the first unpacked
// program and waits for it. The destructor removes what the run created, unless
// the child ended with kKeepFilesExitCode.

#include <windows.h>

#include "app/self_image.h"
#include "app/temp_directory.h"
#include "base/growable_array.h"
#include "base/owned_string.h"

namespace vireo {


// A child that ends with this code asks the stub to leave its files in place.
constexpr DWORD kKeepFilesExitCode = 0x8004FFFF;
// The run's result for every failure before the child was started.
constexpr DWORD kRunFailed = 0xFFFFFFFF;

class MetaInstaller {
 public:
  MetaInstaller(HINSTANCE instance, WideString cmdline, WideString promo_code);
  ~MetaInstaller();
  MetaInstaller(const MetaInstaller&) = delete;
  MetaInstaller& operator=(const MetaInstaller&) = delete;

  // The whole run; returns the process exit code. Called once.
  DWORD ExtractAndRun();

  // Sets temp_dir and temp_root; on failure neither.
  bool CreateUniqueTempDirectory();
  // The decoded tar, open and rewound; INVALID_HANDLE_VALUE on failure. The tar
  // file's path is in files_to_delete as soon as a name was obtained.
  HANDLE ExtractTarballToTempLocation();
  // Copies the stub, from the file held open since construction, into temp_dir
  // as "CorvaneUpdateSetup.exe". The copy is recorded before it is written, so
  // a partial one goes too.
  bool CopyMetainstallerToTempLocation();
  // The Tar's callback: records `path` and remembers the first ".exe".
  static void OnFileExtracted(void* context, const wchar_t* path);

  const WideString& exe_path() const { return exe_path_; }
  const WideString& temp_dir() const { return work_.temp_dir; }
  const WideString& temp_root() const { return work_.temp_root; }
  DWORD exit_code() const { return exit_code_; }
  const GrowableArray<WideString>& files_to_delete() const { return files_to_delete_; }

 private:
  // A path that cannot be recorded (the list cannot grow) is simply not removed.
  void RecordFileToDelete(const wchar_t* path);
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
  GrowableArray<WideString> files_to_delete_;
  WorkDirectory work_;
};

}  // namespace vireo
