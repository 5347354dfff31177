#ifndef HITSIEVE_EXPORT_WORKBOOK_ERROR_H_
#define HITSIEVE_EXPORT_WORKBOOK_ERROR_H_

#include <cstdint>
#include <stdexcept>
#include <string>

// A failure while writing or opening a workbook, with what the "_com_error:" message box shows:
// a 32-bit result code, the system error behind it (if any), what failed and which component.
namespace hitsieve {

// Result codes for failures that carry no system error number.
inline constexpr uint32_t kNoOpenerCode = 0x800401F3;      // no application registered to open it
inline constexpr uint32_t kWorkbookLimitCode = 0x80070057;  // table does not fit a worksheet
inline constexpr uint32_t kWriterFailureBase = 0xA0040000;  // | the xlsx library's error number

class WorkbookError : public std::runtime_error {
 public:
  // `error_number` is the errno behind the failure, 0 when there is none.
  WorkbookError(uint32_t code, int error_number, std::string description, std::string source);

  // The message box text: "_com_error:\nError       : ...\nErrorMessage: ...\n...".
  std::string ComErrorText() const;

 private:
  // The system's text for the error number, or "Unknown error 0x<code>" when there is none.
  std::string SystemMessage() const;

  uint32_t code_;
  int error_number_;
  std::string description_;
  std::string source_;
};

// Shorthand for a failed system call: code 0x80070000 | errno, the result-code form of a
// system error.
WorkbookError SystemError(int error_number, std::string description, std::string source);

}  // namespace hitsieve

#endif  // HITSIEVE_EXPORT_WORKBOOK_ERROR_H_
