// Autostart for tests: entries kept in memory, failures on request.
#pragma once

#include "platform/autostart.h"

#include <QMap>

namespace clavora::platform {

class FakeAutostart : public IAutostart {
public:
    QString readEntry(const QString& name) override { return entries.value(name); }

    Status writeEntry(const QString& name, const QString& programPath, const QString& argument) override {
        if (failWrites) {
            return Status::failure(QStringLiteral("Cannot create the autostart entry \"%1\".").arg(name));
        }
        entries[name] = QLatin1Char('"') + programPath + QLatin1String("\" ") + argument;
        return Status::success();
    }

    Status removeEntry(const QString& name) override {
        entries.remove(name);
        return Status::success();
    }

    QMap<QString, QString> entries;
    bool failWrites = false;
};

} // namespace clavora::platform
