// The logging category of the i18n library (language files, translation and text decoding).
#pragma once

#include <QLoggingCategory>

namespace clavora {

Q_DECLARE_LOGGING_CATEGORY(lcI18n)

} // namespace clavora
