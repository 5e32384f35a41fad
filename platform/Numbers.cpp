#include "Numbers.h"

#include <QLocale>

#include <clocale>

namespace vg57::platform {

void UseCNumbers() {
    std::setlocale(LC_NUMERIC, "C");
    QLocale::setDefault(QLocale::c());
}

} // namespace vg57::platform
