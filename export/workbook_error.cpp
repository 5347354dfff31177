#include "export/workbook_error.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace hitsieve {

namespace {

std::string WhatText(const std::string& description, uint32_t code, int error_number) {
  if (error_number != 0) {
    const char* text = strerrordesc_np(error_number);
    if (text != nullptr) return description + ": " + text;
  }
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, " (error 0x%08lX)", static_cast<unsigned long>(code));
  return description + buffer;
}

// 0x80070000 | errno: the result-code form of a system error.
uint32_t ResultFromErrno(int error_number) {
  return 0x80070000u | (static_cast<uint32_t>(error_number) & 0xFFFFu);
}

}  // namespace

WorkbookError::WorkbookError(uint32_t code, int error_number, std::string description,
                             std::string source)
    : std::runtime_error(WhatText(description, code, error_number)),
      code_(code),
      error_number_(error_number),
      description_(std::move(description)),
      source_(std::move(source)) {}

std::string WorkbookError::SystemMessage() const {
  // strerrordesc_np, unlike strerror, says when it knows no text for the number.
  const char* text = error_number_ != 0 ? strerrordesc_np(error_number_) : nullptr;
  if (text != nullptr) return text;
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "Unknown error 0x%0lX", static_cast<unsigned long>(code_));
  return buffer;
}

std::string WorkbookError::ComErrorText() const {
  const std::string message = SystemMessage();
  const char* format =
      "_com_error:\nError       : %08lX\nErrorMessage: %s\nDescription : %s\nSource      : %s\n";
  const unsigned long code = code_;
  int size = std::snprintf(nullptr, 0, format, code, message.c_str(), description_.c_str(),
                           source_.c_str());
  std::string text(static_cast<size_t>(size) + 1, '\0');
  std::snprintf(text.data(), text.size(), format, code, message.c_str(), description_.c_str(),
                source_.c_str());
  text.resize(static_cast<size_t>(size));
  return text;
}

WorkbookError SystemError(int error_number, std::string description, std::string source) {
  return WorkbookError(ResultFromErrno(error_number), error_number, std::move(description),
                       std::move(source));
}

}  // namespace hitsieve
