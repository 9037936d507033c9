// The SDK's one error channel: every failing call raises an exception of sdk::Exceptions::IException.
#pragma once

#include "sdk/SdkExport.h"
#include "sdk/SdkString.h"

namespace sdk::Exceptions {

class VXSDK_API IException {
public:
    virtual ~IException();
    [[nodiscard]] virtual String GetErrorDescription() const = 0;
    [[nodiscard]] virtual String GetFunctionName() const = 0;
    [[nodiscard]] virtual String GetType() const = 0;

protected:
    IException() = default;
    IException(const IException&) = default;
    IException& operator=(const IException&) = default;
};

// The exception the SDK layer raises. Its type text names the kind of failure:
// "NotFoundException", "InvalidArgumentException", "OutOfRangeException", "AccessDeniedException",
// "NotAvailableException", "ResourceException", "ConfigurationException" or, for an injected fault, the type
// its configuration gives.
class VXSDK_API Exception final : public IException {
public:
    Exception(String type, String functionName, String description);
    [[nodiscard]] String GetErrorDescription() const override;
    [[nodiscard]] String GetFunctionName() const override;
    [[nodiscard]] String GetType() const override;

private:
    String m_type;
    String m_function;
    String m_description;
};

// Raises an Exception; the one way the SDK layer reports an error.
[[noreturn]] VXSDK_API void raise(const char* type, const char* functionName, const std::string& description);

} // namespace sdk::Exceptions
