// Points HOME at a fresh temporary directory for the object's lifetime and
// restores the previous value afterwards.
#pragma once

#include "vltest/temp_dir.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace vltest {

class TempHome {
 public:
  TempHome() {
    if (const char* home = std::getenv("HOME")) previous_ = home;
    setenv("HOME", dir_.path().c_str(), 1);
  }
  ~TempHome() {
    if (previous_)
      setenv("HOME", previous_->c_str(), 1);
    else
      unsetenv("HOME");
  }
  TempHome(const TempHome&) = delete;
  TempHome& operator=(const TempHome&) = delete;

  const std::string& path() const { return dir_.path(); }
  // Where the configuration file `name` lives under this HOME.
  std::string config_path(const std::string& name) const { return dir_.path() + "/.Velanto/" + name; }

 private:
  TempDir dir_;
  std::optional<std::string> previous_;
};

}  // namespace vltest
