#pragma once
// Collects the reports made while it lives.
#include <string>
#include <vector>

#include "zeb/log.h"

class LogCapture {
 public:
  LogCapture() { ZEB_SetLogCallback(record, this); }
  ~LogCapture() { ZEB_SetLogCallback(nullptr, nullptr); }
  LogCapture(const LogCapture &) = delete;
  LogCapture &operator=(const LogCapture &) = delete;

  std::vector<std::string> messages;

 private:
  static void record(const char *message, void *self) {
    static_cast<LogCapture *>(self)->messages.push_back(message);
  }
};
