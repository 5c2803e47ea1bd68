// The one exception type of the program: a failure travels with one message text.
#pragma once

#include <exception>
#include <string>

class Exception : public std::exception {
 public:
  explicit Exception(std::wstring message);
  const std::wstring& Message() const noexcept { return FMessage; }
  // UTF-8 form of the message, for logs and test output.
  const char* what() const noexcept override { return FNarrow.c_str(); }

 private:
  std::wstring FMessage;
  std::string FNarrow;
};

// The user-facing text of any exception: the program's own message, the UTF-8 text of a
// standard exception, or a fixed text for anything else. Empty pointer: empty text.
std::wstring ExceptionText(const std::exception_ptr& failure);
// The same for the exception being handled (call inside a catch block).
std::wstring CurrentExceptionText();
