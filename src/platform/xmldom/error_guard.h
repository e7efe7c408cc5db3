// SPDX-License-Identifier: MIT
// Keeps libxml2 quiet for the lifetime of a scope. libxml2 reports errors
// through per-thread handlers that print to stderr by default, and some
// reports (encoding conversion, saving, XPath compilation, undefined
// prefixes) bypass a parser context's own handler. The guard installs
// handlers that drop every report and restores the previous ones on exit, so
// a host program that set its own handlers gets them back unchanged.
#pragma once

#include <libxml/xmlerror.h>

namespace xmlutil::xmldom {

// Drops a structured error report (usable as a parser's `sax->serror` or an
// XPath context's `error`).
void IgnoreStructuredError(void* context, xmlError* error);

class ErrorSilencer {
  public:
    ErrorSilencer();
    ~ErrorSilencer();
    ErrorSilencer(const ErrorSilencer&) = delete;
    ErrorSilencer& operator=(const ErrorSilencer&) = delete;

  private:
    xmlStructuredErrorFunc savedStructured_;
    void* savedStructuredContext_;
    xmlGenericErrorFunc savedGeneric_;
    void* savedGenericContext_;
};

}  // namespace xmlutil::xmldom
