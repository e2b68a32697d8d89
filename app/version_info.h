// The program's version texts and the banner printed at start.
#pragma once

#include <string>
#include <vector>

namespace morvex {

struct TVersionInfo {
  std::string ProductName;
  std::string ProductVersion;
  std::string Comments;  // one-line description
  std::string LegalNotice;
};

// The texts built into this program.
const TVersionInfo& ProgramVersionInfo();

// The three banner lines: name + " v" + version, the description, the legal
// notice. The banner is followed by one empty line wherever it is written.
std::vector<std::string> BannerLines(const TVersionInfo& info);

}  // namespace morvex
