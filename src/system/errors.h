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
