#include "data/myClass.h"

#include "base/Module1.h"
#include "data/settings.h"

ado::Connection& myClass::ocn() {
    if (!ocn_)
        ocn_ = std::make_unique<ado::Connection>();
    return *ocn_;
}

ado::Recordset& myClass::rs() {
    if (!rs_)
        rs_ = std::make_unique<ado::Recordset>();
    return *rs_;
}

QString myClass::connectionString() {
    // A settings file names the engine; without one the diary is the embedded file.
    const ado::Settings settings = ado::readSettings(app::appFolder());
    if (!settings.file.isEmpty() || !settings.path.startsWith(app::appFolder()))
        return ado::connectionString(settings);
    return QStringLiteral("provider=microsoft.jet.oledb.4.0;data source=") + app::appFolder() +
           QStringLiteral("\\data\\data.mdb;persist security info=false");
}

namespace {
vault::KeyRing* sessionKeys = nullptr;
}

void myClass::useKeys(vault::KeyRing* ring) {
    sessionKeys = ring;
}

vault::KeyRing* myClass::keys() {
    return sessionKeys;
}

void myClass::OpenData() {
    ocn().ConnectionString = connectionString();
    ocn().keys = sessionKeys;
    ocn().Open();
}

myClass::~myClass() {
    // The record set refers to the connection: let it go first.
    rs_.reset();
    ocn_.reset();
}
