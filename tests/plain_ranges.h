// A deliberately plain checker of range exports for the tests: the whole export parsed into its
// groups first (with expat, the XML library orvane uses), then every rule that orvane's reader
// enforces checked on its own, in a plain loop over all of them. It shares no code with the
// reader, so that a check the reader drops or gets wrong shows as a disagreement.
#pragma once

#include <string_view>

// Whether orvane's reader must take the export in text.
bool plain_range_export_acceptable(std::string_view text);
