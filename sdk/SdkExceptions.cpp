#include "sdk/SdkExceptions.h"

namespace sdk::Exceptions {

IException::~IException() = default;

Exception::Exception(String type, String functionName, String description)
    : m_type(std::move(type)), m_function(std::move(functionName)), m_description(std::move(description)) {}

String Exception::GetErrorDescription() const {
    return m_description;
}
String Exception::GetFunctionName() const {
    return m_function;
}
String Exception::GetType() const {
    return m_type;
}

void raise(const char* type, const char* functionName, const std::string& description) {
    throw Exception(String(type), String(functionName), String(description));
}

} // namespace sdk::Exceptions
