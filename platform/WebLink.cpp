#include "WebLink.h"

#include <QDesktopServices>
#include <QUrl>

namespace vg57 {

const char* const kDistributorUrl = "https://vg57.example.org/";

void OpenWebAddress(const QString& url) {
    QDesktopServices::openUrl(QUrl(url, QUrl::StrictMode));
}

void OpenDistributorPage() {
    OpenWebAddress(QString::fromLatin1(kDistributorUrl));
}

} // namespace vg57
