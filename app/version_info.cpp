#include "app/version_info.h"

namespace morvex {

const TVersionInfo& ProgramVersionInfo() {
  static const TVersionInfo info{
      "Morvex",
      "1.2.20",
      "Command-line data-transformation runner",
      "Copyright (c) 2026 The Morvex developers",
  };
  return info;
}

std::vector<std::string> BannerLines(const TVersionInfo& info) {
  return {info.ProductName + " v" + info.ProductVersion, info.Comments, info.LegalNotice};
}

}  // namespace morvex
