#pragma once
// dayvault.conf: which engine keeps the diary and where. Read by the program, the admin tool
// and the package alike.
#include <QString>

namespace ado {

struct Settings {
    bool server = false; // engine=postgresql
    QString file;        // the settings file read; empty when there is none
    QString path;        // the embedded engine's database file
    QString connection;  // [database] connection: what the diary's users connect with
    QString admin;       // [admin] connection: the schema's owner, for the admin tool
};

// `folder`/dayvault.conf, else /etc/dayvault/dayvault.conf, else the embedded file
// data/data.mdb of `folder` when it has a data/ folder (a source build), else data.mdb of
// personalDataFolder() (the installed program). A file that cannot be read or names an unknown
// engine throws ado::Error with a message naming it.
Settings readSettings(const QString& folder);
Settings readSettingsFile(const QString& file);

// $XDG_DATA_HOME/dayvault, by default ~/.local/share/dayvault: one person's diary.
QString personalDataFolder();

// The connection string a Connection opens: the database file, or the server with the
// folder its pinned keys are kept in (the settings file's).
QString connectionString(const Settings& s, bool asOwner = false);

// Where the package's settings file is looked for (tests keep the machine's out).
void setSystemSettingsFile(const QString& file);

} // namespace ado
