#include "sdk/gentl/sim-cti/SimCtiReply.h"

namespace sdk::simcti {
namespace {

// GenTL keeps the last error per calling thread: a consumer asks for it right after the call that failed.
struct LastError {
    GC_ERROR code = GC_ERR_SUCCESS;
    std::string text;
};

LastError& lastError() noexcept {
    thread_local LastError error;
    return error;
}

} // namespace

GC_ERROR fail(GC_ERROR code, std::string text) {
    LastError& error = lastError();
    error.code = code;
    error.text = std::move(text);
    return code;
}

GC_ERROR lastErrorCode() noexcept {
    return lastError().code;
}

const std::string& lastErrorText() noexcept {
    return lastError().text;
}

GC_ERROR putString(INFO_DATATYPE* type, void* buffer, size_t* size, std::string_view text) {
    if (size == nullptr) {
        return fail(GC_ERR_INVALID_PARAMETER, "no size given for the text");
    }
    if (type != nullptr) {
        *type = INFO_DATATYPE_STRING;
    }
    const size_t needed = text.size() + 1;
    if (buffer == nullptr) {
        *size = needed;
        return GC_ERR_SUCCESS;
    }
    if (*size < needed) {
        *size = needed;
        return fail(GC_ERR_BUFFER_TOO_SMALL, "the buffer is too small for the text");
    }
    std::memcpy(buffer, text.data(), text.size());
    static_cast<char*>(buffer)[text.size()] = '\0';
    *size = needed;
    return GC_ERR_SUCCESS;
}

GC_ERROR unknownCommand(int32_t command) {
    return fail(GC_ERR_NOT_IMPLEMENTED, "information command " + std::to_string(command) + " is not served");
}

std::string descriptionOpening(std::string_view model, std::string_view toolTip, std::string_view productGuid,
                               std::string_view versionGuid) {
    std::string out = R"(<?xml version="1.0" encoding="utf-8"?>)"
                      "\n";
    out.append(R"(<RegisterDescription ModelName=")").append(model);
    out.append(R"(" VendorName="Veyra" ToolTip=")").append(toolTip).append(R"(" StandardNameSpace="None")");
    out.append(R"( SchemaMajorVersion="1" SchemaMinorVersion="1" SchemaSubMinorVersion="0")");
    out.append(R"( MajorVersion="1" MinorVersion="0" SubMinorVersion="0")");
    out.append(R"( ProductGuid=")").append(productGuid).append(R"(")");
    out.append(R"( VersionGuid=")").append(versionGuid).append(R"(")");
    out.append(R"( xmlns="http://www.genicam.org/GenApi/Version_1_1")");
    out.append(R"( xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance")");
    out.append(R"( xsi:schemaLocation="http://www.genicam.org/GenApi/Version_1_1)");
    out.append(R"( http://www.genicam.org/GenApi/GenApiSchema_Version_1_1.xsd">)"
               "\n");
    out.append(R"(  <Category Name="Root" NameSpace="Standard">)"
               "\n");
    return out;
}

} // namespace sdk::simcti
