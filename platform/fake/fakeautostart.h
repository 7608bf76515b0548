// Autostart for tests: entries kept in memory, failures on request.
#pragma once

#include "platform/autostart.h"

#include <QMap>

namespace clavora::platform {

class TFakeAutostart : public IAutostart {
public:
    QString readEntry(const QString& name) override { return FEntries.value(name); }

    TStatus writeEntry(const QString& name, const QString& programPath, const QString& argument) override {
        if (FFailWrites) {
            return TStatus::Failure(QStringLiteral("Cannot create the autostart entry \"%1\".").arg(name));
        }
        FEntries[name] = QLatin1Char('"') + programPath + QLatin1String("\" ") + argument;
        return TStatus::Ok();
    }

    TStatus removeEntry(const QString& name) override {
        FEntries.remove(name);
        return TStatus::Ok();
    }

    QMap<QString, QString> FEntries;
    bool FFailWrites = false;
};

} // namespace clavora::platform
