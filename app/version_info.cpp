#include "app/version_info.h"

// The build passes the project's version (CMakeLists.txt).
#ifndef MORVEX_VERSION
#error "MORVEX_VERSION must be defined by the build"
#endif

namespace morvex {

const TVersionInfo& ProgramVersionInfo() {
  static const TVersionInfo info{
      "Morvex",
      MORVEX_VERSION,
      "Command-line data-transformation runner",
      "Copyright (c) 2026 The Morvex developers",
  };
  return info;
}

std::vector<std::string> BannerLines(const TVersionInfo& info) {
  return {info.ProductName + " v" + info.ProductVersion, info.Comments, info.LegalNotice};
}

}  // namespace morvex
