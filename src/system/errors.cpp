#include "system/errors.h"

#include "system/text.h"

Exception::Exception(std::wstring message) : FMessage(std::move(message)), FNarrow(EncodeUtf8(FMessage)) {}
