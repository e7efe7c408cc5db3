// SPDX-License-Identifier: MIT
// The DOM service's load-time start: libxml2's parser initialisation.
#include "platform/xmldom/startup.h"

#include <libxml/parser.h>

namespace xmlutil::xmldom {

void StartDomService() noexcept {
    xmlInitParser();
}

}  // namespace xmlutil::xmldom
