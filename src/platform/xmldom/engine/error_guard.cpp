// SPDX-License-Identifier: MIT
#include "platform/xmldom/engine/error_guard.h"

#include <libxml/globals.h>

namespace xmlutil::xmldom {
namespace detail {

__thread ErrorHandlerSlots tErrorHandlerSlots = {};

const ErrorHandlerSlots& FindErrorHandlerSlots() {
    tErrorHandlerSlots = ErrorHandlerSlots{&xmlStructuredError, &xmlStructuredErrorContext,
                                           &xmlGenericError, &xmlGenericErrorContext};
    return tErrorHandlerSlots;
}

void IgnoreGenericError(void* /*context*/, const char* /*message*/, ...) {}

}  // namespace detail

void IgnoreStructuredError(void* /*context*/, xmlError* /*error*/) {}

void ErrorSilencer::Record(void* silencer, xmlError* error) {
    if (silencer == nullptr || error == nullptr) return;
    auto* self = static_cast<ErrorSilencer*>(silencer);
    if (error->code == XML_ERR_NO_MEMORY) self->outOfMemory_ = true;
    if (self->forward_ != nullptr) self->forward_(self->forwardContext_, error);
}

}  // namespace xmlutil::xmldom
