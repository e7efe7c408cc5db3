// SPDX-License-Identifier: MIT
#include "platform/xmldom/error_guard.h"

#include <libxml/globals.h>

namespace xmlutil::xmldom {
namespace {

// A generic handler that prints nothing. Passing NULL to
// xmlSetGenericErrorFunc would reinstate the default handler, which prints.
void IgnoreGenericError(void* /*context*/, const char* /*message*/, ...) {}

}  // namespace

void IgnoreStructuredError(void* /*context*/, xmlError* /*error*/) {}

void ErrorSilencer::Record(void* silencer, xmlError* error) {
    if (silencer != nullptr && error != nullptr && error->code == XML_ERR_NO_MEMORY) {
        static_cast<ErrorSilencer*>(silencer)->outOfMemory_ = true;
    }
}

ErrorSilencer::ErrorSilencer()
    : savedStructured_(xmlStructuredError),
      savedStructuredContext_(xmlStructuredErrorContext),
      savedGeneric_(xmlGenericError),
      savedGenericContext_(xmlGenericErrorContext) {
    xmlSetStructuredErrorFunc(this, Record);
    xmlSetGenericErrorFunc(nullptr, IgnoreGenericError);
}

ErrorSilencer::~ErrorSilencer() {
    // Assigned directly: the setter functions would turn a saved NULL into
    // libxml2's printing default.
    xmlStructuredError = savedStructured_;
    xmlStructuredErrorContext = savedStructuredContext_;
    xmlGenericError = savedGeneric_;
    xmlGenericErrorContext = savedGenericContext_;
}

}  // namespace xmlutil::xmldom
