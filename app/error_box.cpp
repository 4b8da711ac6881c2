#include "app/error_box.h"

#include "app/string_resource.h"
#include "logging/log_interface.h"

namespace vireo {

HRESULT HandleError(HRESULT result) {
  VIREO_LOG_FUNCTION(L"vireo::`anonymous-namespace'");

  WideString company_name;
  WideString text;
  if (result == kOSRequirementsNotMet) {
    LoadStringById(IDS_COMPANY_NAME, &company_name);
    text = FormatStringById(IDS_OS_REQUIREMENTS, company_name.c_str());
  } else {
    LoadStringById(IDS_INSTALLER_FAILED, &text);
  }
  // A missing company name leaves the insert empty; the box is shown all the same.
  LoadStringById(IDS_COMPANY_NAME, &company_name);
  const WideString title = FormatStringById(IDS_INSTALLER_TITLE, company_name.c_str());

  ::MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_OK);
  return result;
}

}  // namespace vireo
