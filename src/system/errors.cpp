#include "system/errors.h"

#include "system/text.h"

Exception::Exception(std::wstring message) : FMessage(std::move(message)), FNarrow(EncodeUtf8(FMessage)) {}

std::wstring ExceptionText(const std::exception_ptr& failure) {
  if (!failure) return {};
  try {
    std::rethrow_exception(failure);
  } catch (const Exception& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return DecodeUtf8Lenient(e.what());
  } catch (...) {
    return L"Неизвестная ошибка";
  }
}

std::wstring CurrentExceptionText() { return ExceptionText(std::current_exception()); }
