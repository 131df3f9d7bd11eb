#include "vltest/temp_dir.h"

#include <cstdlib>
#include <filesystem>

namespace vltest {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vltest.XXXXXX").string();
  if (mkdtemp(pattern.data())) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

}  // namespace vltest
