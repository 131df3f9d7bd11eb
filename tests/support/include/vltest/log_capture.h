// Collects the log records of the current process for assertions.
#pragma once

#include <log4c.h>

#include <mutex>
#include <string>
#include <vector>

namespace vltest {

struct CapturedRecord {
  std::string category;
  int priority;
  std::string message;
  std::string file;  // base name of the location, empty without one
  int line;
  std::string rendered;  // through the "velanto" layout
};

// While alive, every record that reaches the root category is also kept
// here. Initialises logging when nobody has.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<CapturedRecord> records() const;
  // Records whose message contains `text`.
  int count(const std::string& text) const;
  bool contains(const std::string& text) const { return count(text) > 0; }
  void clear();

  void add(CapturedRecord record);

 private:
  mutable std::mutex mutex_;
  std::vector<CapturedRecord> records_;
};

// Sets a category's own priority while alive and then puts back the one it
// had, so that a test leaves the next one in its process the levels it found.
class LogPriority {
 public:
  LogPriority(const char* category, int priority);
  ~LogPriority();
  LogPriority(const LogPriority&) = delete;
  LogPriority& operator=(const LogPriority&) = delete;

 private:
  log4c_category_t* category_;
  int previous_;
};

// Sends the records of "velanto" to standard error too, so that a death test
// can match the message a dying process logged.
void log_to_stderr();

}  // namespace vltest
