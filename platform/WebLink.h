// The web page that the logo and the address links open, and the hand-over to the desktop.
#pragma once

#include <QString>

#include <functional>

namespace vg57 {

// The distributor's page: one address for every link and both address labels.
extern const char* const kDistributorUrl;

// Opens `url` with the desktop's default handler (xdg-open behind Qt). The result is ignored:
// a page that can't be opened is not an error of this program, and nothing is reported.
void OpenWebAddress(const QString& url);

// The same for the distributor's page.
void OpenDistributorPage();

// What a link calls; tests substitute one that records instead of starting a browser.
using TPageOpener = std::function<void(const QString& url)>;

} // namespace vg57
